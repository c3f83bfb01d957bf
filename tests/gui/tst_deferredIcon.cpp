// The icons read from their files at first use give what QIcon::addFile with the same files
// gives: the same sizes, the same pictures and sizes for every asked size and mode, and a null
// icon where no file can be read.
#include "gui/DeferredIcon.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(QList<TIconFile>)

class TDeferredIconTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir FDir;

    // A PNG of `size` pixels, two colours so that scaling shows.
    QString Picture(const QString& name, int size, QColor colour)
    {
        QImage image(size, size, QImage::Format_ARGB32);
        image.fill(colour);
        QPainter(&image).fillRect(0, 0, size / 2, size / 2, Qt::white);
        const QString path = FDir.filePath(name);
        return image.save(path, "PNG") ? path : QString();
    }

private Q_SLOTS:
    void sameAsQtsOwn_data()
    {
        QTest::addColumn<QList<TIconFile>>("files");
        const QString small = Picture(QStringLiteral("16.png"), 16, Qt::red);
        const QString large = Picture(QStringLiteral("48.png"), 48, Qt::blue);
        const QString garbage = FDir.filePath(QStringLiteral("kaputt.png"));
        QFile file(garbage);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("kein Bild") > 0);
        file.close();
        QTest::newRow("sizes named") << QList<TIconFile>{{small, QSize(16, 16)}, {large, QSize(48, 48)}};
        QTest::newRow("size from the file") << QList<TIconFile>{{large, QSize()}};
        QTest::newRow("size not in the file") << QList<TIconFile>{{small, QSize(32, 32)}};
        QTest::newRow("no image") << QList<TIconFile>{{garbage, QSize()}};
        QTest::newRow("missing file")
            << QList<TIconFile>{{FDir.filePath(QStringLiteral("fehlt.png")), QSize()}};
        QTest::newRow("no files") << QList<TIconFile>{};
    }
    void sameAsQtsOwn()
    {
        QFETCH(QList<TIconFile>, files);
        QIcon own;
        for (const TIconFile& file : files)
            own.addFile(file.Name, file.Size);
        const QIcon deferred = DeferredIcon(files);

        QCOMPARE(deferred.isNull(), own.isNull());
        QCOMPARE(deferred.availableSizes(), own.availableSizes());
        for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled}) {
            for (int size : {8, 16, 20, 32, 48, 64}) {
                const QSize asked(size, size);
                QCOMPARE(deferred.actualSize(asked, mode), own.actualSize(asked, mode));
                const QPixmap got = deferred.pixmap(asked, mode);
                const QPixmap expected = own.pixmap(asked, mode);
                QCOMPARE(got.size(), expected.size());
                QCOMPARE(got.devicePixelRatio(), expected.devicePixelRatio());
                QCOMPARE(got.toImage(), expected.toImage());
            }
        }
        // Painted into a rectangle, as a tray paints its icon.
        QImage paintedOwn(40, 40, QImage::Format_ARGB32_Premultiplied);
        paintedOwn.fill(Qt::transparent);
        QImage paintedDeferred = paintedOwn;
        {
            QPainter ownPainter(&paintedOwn);
            own.paint(&ownPainter, QRect(2, 3, 30, 36));
            QPainter deferredPainter(&paintedDeferred);
            deferred.paint(&deferredPainter, QRect(2, 3, 30, 36));
        }
        QCOMPARE(paintedDeferred, paintedOwn);
    }
};

QTEST_MAIN(TDeferredIconTest)
#include "tst_deferredIcon.moc"
