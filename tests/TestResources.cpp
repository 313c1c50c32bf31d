#include <QDir>
#include <QIcon>
#include <QImageReader>
#include <QResource>
#include <QtTest>

namespace {

struct IconEntry
{
    const char* name;
    const char* format;
    QSize size;
    const char* colours; // that must show as fully opaque pixels
};

const IconEntry icons[] = {
    {"main-icon", "png", {128, 128}, "#7ED321"},
    {"systray-ok", "png", {64, 64}, "#474747 #F7F7F7 #7ED321"},
    {"systray-nok", "png", {64, 64}, "#474747 #F7F7F7 #D0011B"},
    {"branch-open", "png", {12, 8}, "#E6E6E6"},
    {"branch-closed", "png", {8, 12}, "#E6E6E6"},
    {"server-ok", "svg", {64, 42}, "#F7F7F7 #7ED321"},
    {"server-nok", "svg", {64, 42}, "#F7F7F7 #D8D8D8 #D0011B"},
    {"server-wait", "svg", {64, 42}, "#F7F7F7 #D8D8D8"},
    {"forbidden", "svg", {64, 42}, "#F7F7F7 #D8D8D8 #D0011B"},
    {"recorder-ok", "svg", {64, 42}, "#F7F7F7 #7ED321"},
    {"recorder-nok", "svg", {64, 42}, "#F7F7F7 #9B9B9B"},
    {"cameras-ok", "svg", {64, 42}, "#F7F7F7 #7ED321"},
    {"cameras-nok", "svg", {64, 42}, "#F7F7F7 #9B9B9B"},
    {"hardware-ok", "svg", {64, 42}, "#F7F7F7 #7ED321"},
    {"hardware-nok", "svg", {64, 42}, "#F7F7F7 #9B9B9B"},
    {"ignored", "svg", {64, 42}, "#F7F7F7 #9B9B9B"},
    {"licence", "svg", {64, 42}, "#F7F7F7 #9B9B9B"},
};

void checkRendering(const QImage& rendered, const QSize& size, const QStringList& colours)
{
    QCOMPARE(rendered.size(), size);
    const QImage image = rendered.convertToFormat(QImage::Format_ARGB32);
    QSet<QRgb> opaque;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) == 255) {
                opaque.insert(image.pixel(x, y));
            }
        }
    }
    for (const QString& colour : colours) {
        QVERIFY2(opaque.contains(QColor(colour).rgba()), qPrintable(colour + QStringLiteral(" not drawn")));
    }
}

} // namespace

// The images compiled into the application, checked as the views and the tray load them: both path
// forms, through QImage and QIcon, rendered at the size each one is drawn for.
class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QImageReader::supportedImageFormats().contains("svg"), "the SVG image plugin is not available");
    }

    void image_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QStringList>("colours");
        for (const IconEntry& icon : icons) {
            for (const char* prefix : {":/icons/", ":icons/"}) {
                const QString path = QLatin1String(prefix) + QLatin1String(icon.name);
                QTest::newRow(qPrintable(path)) << path << QByteArray(icon.format) << icon.size
                                                << QString::fromLatin1(icon.colours).split(QLatin1Char(' '));
            }
        }
    }

    void image()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, format);
        QFETCH(QSize, size);
        QFETCH(QStringList, colours);

        QImageReader reader(path);
        QCOMPARE(reader.format(), format);
        QCOMPARE(reader.size(), size);
        const QResource resource(path);
        QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
        QCOMPARE(resource.uncompressedSize(), resource.size());
        checkRendering(QImage(path), size, colours);
        if (!QTest::currentTestFailed()) {
            checkRendering(QIcon(path).pixmap(size).toImage(), size, colours);
        }
    }

    void bundleListing()
    {
        QStringList expected;
        for (const IconEntry& icon : icons) {
            expected << QLatin1String(icon.name);
        }
        expected.sort();
        QCOMPARE(QDir(QStringLiteral(":/icons")).entryList(QDir::Files), expected);
        QCOMPARE(QDir(QStringLiteral(":/translations")).entryList(QDir::Files),
                 QStringList{QStringLiteral("trans_fr")});
        const QResource catalogue(QStringLiteral(":/translations/trans_fr"));
        QCOMPARE(catalogue.compressionAlgorithm(), QResource::NoCompression);
        QCOMPARE(catalogue.uncompressedSize(), catalogue.size());
        QVERIFY(!QResource(QStringLiteral(":/icons/server-ok.svg")).isValid());
        QVERIFY(!QResource(QStringLiteral(":/translations/trans_fr.qm")).isValid());
    }
};

QTEST_MAIN(TestResources)
#include "TestResources.moc"
