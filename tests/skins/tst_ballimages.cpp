// SPDX-License-Identifier: GPL-3.0-or-later
// The pictures the ball's documents, the menu and the panel name: present in the resources,
// readable, of the size the layout was drawn for, and the skins' read-outs legible.
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QtTest>

#include <cmath>

namespace {
double channel(double c)
{
    c /= 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c)
{
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
} // namespace

class TestBallImages : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void namedPictures_data();
    void namedPictures();
    void digitStrip();
    void readouts_data();
    void readouts();
};

void TestBallImages::namedPictures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    const QString img = QStringLiteral(":/Ball/Skins/images/");
    struct Row { const char* name; int w; int h; };
    const Row shared[] = {
        {"ani_bg_48.png", 48, 48}, {"ani_Light_48.png", 48, 48}, {"ani_shandow_78.png", 78, 78},
        {"bg_120x48.png", 120, 48}, {"btn_small boost_1_n_48.png", 48, 48},
        {"btn_small boost_1_h_48.png", 48, 48}, {"btn_small boost_2_n_48.png", 48, 48},
        {"btn_small boost_2_h_48.png", 48, 48},
        {"icon_boost_12.png", 12, 12}, {"icon_Screenshots_18.png", 18, 18},
        {"icon_skin_18.png", 18, 18}, {"icon_hide_12.png", 12, 12},
        {"btn_staples_h_20x30.png", 20, 30}, {"btn_staples_n_20x30.png", 20, 30},
        {"btn_facebook_h_20x30.png", 20, 30}, {"btn_facebook_n_20x30.png", 20, 30},
        {"btn_facebook_p_20x30.png", 20, 30}, {"btn_Screenshots_h_20x30.png", 20, 30},
        {"btn_Screenshots_n_20x30.png", 20, 30}, {"btn_Screenshots_p_20x30.png", 20, 30},
        {"icon_small_boost_n_18.png", 18, 18}, {"icon_small_network_n_18.png", 18, 18},
        {"icon_small_cleaner_n_18.png", 18, 18}, {"btn_boost_1_h_120x35.png", 120, 35},
        {"btn_boost_1_n_120x35.png", 120, 35}, {"btn_boost_2_h_120x35.png", 120, 35},
        {"btn_boost_2_n_120x35.png", 120, 35}, {"btn_Switch_pc_h_70x20.png", 70, 20},
        {"btn_Switch_pc_n_70x20.png", 70, 20}, {"btn_Switch_game_h_70x20.png", 70, 20},
        {"btn_Switch_game_n_70x20.png", 70, 20}, {"select_normal_13_1.png", 13, 13},
        {"select_selected_13_1.png", 13, 13}, {"digitals_560x60.png", 560, 60},
        {"%_24.png", 24, 24}, {"net0_130x60.png", 130, 60}, {"net1_130x60.png", 130, 60},
        {"icon_-_9.png", 9, 9}, {"btn_play_h_16.png", 16, 16}, {"btn_play_n_16.png", 16, 16},
        {"btn_pause_h_16.png", 16, 16}, {"btn_pause_n_16.png", 16, 16},
        {"icon_proc_default.png", 16, 16}, {"bg_330x290.png", 330, 290},
    };
    for (const Row& r : shared)
        QTest::newRow(r.name) << img + QLatin1String(r.name) << QSize(r.w, r.h);
    QTest::newRow("default_skin") << QStringLiteral(":/Ball/Images/default_skin.png")
                                  << QSize(153, 100);
    const QString skins = QStringLiteral(":/Ball/Skins/BallSkins/");
    const Row faces[] = {
        {"Christmas/Christmas_170x180.png", 170, 180}, {"Halloween/bg_200x110.png", 200, 110},
        {"Lighter/Lighter_95x115.png", 95, 115}, {"egg/eggs_120x115.png", 120, 115},
        {"notebook/bg_150x100.png", 150, 100}, {"shaver/Shaver_140x80.png", 140, 80},
        {"tennis/bg_160x75.png", 160, 75}, {"tissue/bg_130.png", 130, 130},
    };
    for (const Row& r : faces)
        QTest::newRow(r.name) << skins + QLatin1String(r.name) << QSize(r.w, r.h);
    for (const char* s : {"Christmas", "Halloween", "Lighter", "egg", "notebook", "shaver",
                          "tennis", "tissue"})
        QTest::newRow(qPrintable(QStringLiteral("%1/icon.jpg").arg(QLatin1String(s))))
            << skins + QLatin1String(s) + QStringLiteral("/icon.jpg") << QSize(153, 100);
}

void TestBallImages::namedPictures()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QImage img(path);
    QVERIFY2(!img.isNull(), qPrintable(path + QStringLiteral(" is missing or unreadable")));
    QCOMPARE(img.size(), size);
    // Something must be drawn: not one flat colour, not fully transparent.
    img = img.convertToFormat(QImage::Format_ARGB32);
    bool visible = false;
    bool varied = false;
    const QRgb first = img.pixel(0, 0);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = img.pixel(x, y);
            visible = visible || qAlpha(p) > 0;
            varied = varied || p != first;
        }
    QVERIFY(visible);
    QVERIFY(varied);
}

// The panel shows digits from cells 4 to 13 (digitStart -4): each must differ from the others.
void TestBallImages::digitStrip()
{
    const QImage strip =
        QImage(QStringLiteral(":/Ball/Skins/images/digitals_560x60.png")).convertToFormat(QImage::Format_ARGB32);
    QVector<QImage> cells;
    for (int d = 0; d < 10; ++d) {
        const QImage cell = strip.copy((d + 4) * 40, 0, 40, 60);
        int ink = 0;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 40; ++x)
                ink += qAlpha(cell.pixel(x, y)) > 128 ? 1 : 0;
        QVERIFY2(ink > 150, qPrintable(QStringLiteral("digit %1 is nearly empty").arg(d)));
        for (const QImage& other : std::as_const(cells))
            QVERIFY(other != cell);
        cells << cell;
    }
}

void TestBallImages::readouts_data()
{
    QTest::addColumn<QString>("background");
    QTest::addColumn<QPoint>("origin");
    QTest::addColumn<QColor>("ink");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<int>("spacing");
    const QString s = QStringLiteral(":/Ball/Skins/BallSkins/");
    const QColor black(Qt::black);
    const QColor light(QStringLiteral("#f5faff"));
    QTest::newRow("Default") << QStringLiteral(":/Ball/Skins/images/bg_120x48.png") << QPoint(51, 11) << light << 10 << 3;
    QTest::newRow("Christmas") << s + QStringLiteral("Christmas/Christmas_170x180.png") << QPoint(60, 87) << QColor(QStringLiteral("#050a0f")) << 11 << 0;
    QTest::newRow("Halloween") << s + QStringLiteral("Halloween/bg_200x110.png") << QPoint(112, 52) << light << 11 << 0;
    QTest::newRow("Lighter") << s + QStringLiteral("Lighter/Lighter_95x115.png") << QPoint(23, 50) << light << 11 << 0;
    QTest::newRow("egg") << s + QStringLiteral("egg/eggs_120x115.png") << QPoint(36, 33) << black << 11 << 0;
    QTest::newRow("notebook") << s + QStringLiteral("notebook/bg_150x100.png") << QPoint(45, 30) << black << 11 << 0;
    QTest::newRow("shaver") << s + QStringLiteral("shaver/Shaver_140x80.png") << QPoint(60, 24) << black << 11 << 0;
    QTest::newRow("tennis") << s + QStringLiteral("tennis/bg_160x75.png") << QPoint(74, 20) << light << 11 << 0;
    QTest::newRow("tissue") << s + QStringLiteral("tissue/bg_130.png") << QPoint(40, 84) << black << 11 << 0;
}

// Under the widest read-out ("RAM: 100%", two lines) the face must be opaque and in good
// contrast with the text colour, so the figures can be read on any desktop.
void TestBallImages::readouts()
{
    QFETCH(QString, background);
    QFETCH(QPoint, origin);
    QFETCH(QColor, ink);
    QFETCH(int, pixelSize);
    QFETCH(int, spacing);
    const QImage img = QImage(background).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!img.isNull());
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    const QFontMetrics fm(font);
    const QRect text(origin, QSize(fm.horizontalAdvance(QStringLiteral("RAM: 100%")),
                                   2 * fm.height() + spacing));
    QVERIFY2(img.rect().contains(text), "the read-out runs off the face");
    double r = 0, g = 0, b = 0, a = 0;
    int n = 0;
    double worst = 100;
    for (int y = text.top() + 2; y <= text.bottom() - 2; ++y)
        for (int x = text.left(); x <= text.right(); ++x) {
            const QRgb p = img.pixel(x, y);
            r += qRed(p); g += qGreen(p); b += qBlue(p); a += qAlpha(p);
            ++n;
            worst = std::min(worst, contrast(QColor(p), ink));
        }
    const QColor mean(int(r / n), int(g / n), int(b / n));
    QVERIFY2(a / n > 250, qPrintable(QStringLiteral("mean alpha %1").arg(a / n)));
    const double ratio = contrast(mean, ink);
    QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("contrast %1 against %2").arg(ratio).arg(mean.name())));
    QVERIFY2(worst >= 2.0, qPrintable(QStringLiteral("a pixel with contrast %1").arg(worst)));
}

QTEST_MAIN(TestBallImages)
#include "tst_ballimages.moc"
