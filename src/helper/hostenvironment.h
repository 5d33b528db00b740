// SPDX-License-Identifier: GPL-3.0-or-later
// The host's QML environment: the "Translator" and "SetsIndividual" objects every document
// sees, the KestUIExtension / KestTypes modules and the "qrc:/Skin/..." controls and pictures.
#pragma once

#include "helper/vdshelper_export.h"

#include <QColor>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QQmlEngine;
class QTranslator;

// Appending nulstr to a translated text makes a binding re-evaluate when the language changes.
class VDSHELPER_EXPORT Translator : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString nulstr READ nulstr NOTIFY nulstrChanged)
    Q_PROPERTY(QString language READ language NOTIFY nulstrChanged)
public:
    explicit Translator(QObject* parent = nullptr);
    ~Translator() override;
    QString nulstr() const { return QString(); }
    QString language() const { return m_language; }
    // Loads every catalogue named "<name>_<language>.qm" from the resources (":/i18n") and the
    // application folder; "en" or an empty language removes all. False when none was found.
    Q_INVOKABLE bool setLanguage(const QString& language);
    // Catalogue base names to look for, e.g. "verdantball".
    void addCatalogue(const QString& name);

Q_SIGNALS:
    void nulstrChanged();

private:
    void clear();
    QString m_language;
    QStringList m_catalogues;
    std::vector<std::unique_ptr<QTranslator>> m_loaded;
};

class VDSHELPER_EXPORT SetsIndividual : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString font READ font WRITE setFont NOTIFY changed)
    Q_PROPERTY(QColor textColor READ textColor WRITE setTextColor NOTIFY changed)
    Q_PROPERTY(QColor bgState0Color READ bgState0Color WRITE setBgState0Color NOTIFY changed)
public:
    explicit SetsIndividual(QObject* parent = nullptr);
    QString font() const { return m_font; }
    QColor textColor() const { return m_textColor; }
    QColor bgState0Color() const { return m_bgState0Color; }
    void setFont(const QString& f);
    void setTextColor(const QColor& c);
    void setBgState0Color(const QColor& c);

Q_SIGNALS:
    void changed();

private:
    QString m_font;
    QColor m_textColor;
    QColor m_bgState0Color;
};

class VDSHELPER_EXPORT HostEnvironment
{
public:
    // The area numbers a document passes to BaseView::mousePressChanged (VDSTypes.BVPA_*).
    enum { NoArea = 0, TitleArea = 1, ClientArea = 2 };

    static HostEnvironment& instance();
    // Publishes the host objects in an engine's root context and registers the modules once.
    void attach(QQmlEngine* engine);
    Translator* translator() { return m_translator.get(); }
    SetsIndividual* setsIndividual() { return m_sets.get(); }

private:
    HostEnvironment();
    std::unique_ptr<Translator> m_translator;
    std::unique_ptr<SetsIndividual> m_sets;
    bool m_registered = false;
};
