// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/hostenvironment.h"
#include "helper/helperlogging.h"

#include "helper/kestui.h"
#include "helper/setsgeneral.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTranslator>

static void initHelperResources()
{
    Q_INIT_RESOURCE(vdshelper_skin);
}

Translator::Translator(QObject* parent) : QObject(parent)
{
    m_catalogues << QStringLiteral("vdshelper");
}

Translator::~Translator()
{
    clear();
}

void Translator::addCatalogue(const QString& name)
{
    if (!m_catalogues.contains(name))
        m_catalogues << name;
}

void Translator::clear()
{
    for (auto& t : m_loaded)
        QCoreApplication::removeTranslator(t.get());
    m_loaded.clear();
}

bool Translator::setLanguage(const QString& language)
{
    clear();
    bool any = false;
    if (!language.isEmpty() && language != QLatin1String("en")) {
        const QStringList dirs{QStringLiteral(":/i18n"),
                               SetsGeneral::appPath() + QStringLiteral("/translations")};
        for (const QString& cat : std::as_const(m_catalogues)) {
            for (const QString& dir : dirs) {
                auto t = std::make_unique<QTranslator>();
                if (t->load(cat + QLatin1Char('_') + language, dir)) {
                    QCoreApplication::installTranslator(t.get());
                    m_loaded.push_back(std::move(t));
                    any = true;
                    break;
                }
            }
        }
        if (!any)
            qCDebug(lcHelper).noquote() << "Translator: no catalogue for language" << language;
    }
    const bool changed = m_language != language;
    m_language = language;
    if (changed || any)
        Q_EMIT nulstrChanged();
    return any || language.isEmpty() || language == QLatin1String("en");
}

// The host's theme: light text over the dark panels and the blue of a chosen item.
SetsIndividual::SetsIndividual(QObject* parent)
    : QObject(parent), m_font(QStringLiteral("DejaVu Sans")), m_textColor(QColor(0xe8, 0xee, 0xf2)),
      m_bgState0Color(QColor(0x0b, 0x62, 0xb8))
{}

void SetsIndividual::setFont(const QString& f)
{
    if (f == m_font)
        return;
    m_font = f;
    Q_EMIT changed();
}

void SetsIndividual::setTextColor(const QColor& c)
{
    if (c == m_textColor)
        return;
    m_textColor = c;
    Q_EMIT changed();
}

void SetsIndividual::setBgState0Color(const QColor& c)
{
    if (c == m_bgState0Color)
        return;
    m_bgState0Color = c;
    Q_EMIT changed();
}

HostEnvironment::HostEnvironment()
    : m_translator(std::make_unique<Translator>()), m_sets(std::make_unique<SetsIndividual>())
{}

HostEnvironment& HostEnvironment::instance()
{
    static HostEnvironment env;
    return env;
}

void HostEnvironment::attach(QQmlEngine* engine)
{
    if (!m_registered) {
        m_registered = true;
        initHelperResources();
        kest::registerModules();
    }
    engine->rootContext()->setContextProperty(QStringLiteral("Translator"), m_translator.get());
    engine->rootContext()->setContextProperty(QStringLiteral("SetsIndividual"), m_sets.get());
}
