// The deferred icon hands every question about pictures to the icon Qt itself makes from the
// files, made at the first such question; until then only the files' headers are read, to know
// whether there is an icon at all.
#include "gui/DeferredIcon.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QImageReader>
#include <QPaintDevice>
#include <QPainter>
#include <QPixmap>
#include <QRect>

#include <optional>

namespace {

class TDeferredIconEngine : public QIconEngine {
public:
    explicit TDeferredIconEngine(QList<TIconFile> files) : FFiles(std::move(files)) {}

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        // At a ratio of 1 QIcon asks the engine directly: the picture an icon of these files has.
        return Loaded().pixmap(size, 1.0, mode, state);
    }

    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        // Qt's engine answers with the size of the picture it would hand out for `size`.
        return pixmap(size, mode, state).size();
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        // As Qt's engine paints: a picture at the device's resolution, drawn into the rectangle.
        const QPaintDevice* device = painter->device();
        const qreal ratio = device ? device->devicePixelRatio() : qApp->devicePixelRatio();
        painter->drawPixmap(rect, pixmap(rect.size() * ratio, mode, state));
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return Loaded().availableSizes(mode, state);
    }

    void addPixmap(const QPixmap& pixmap, QIcon::Mode mode, QIcon::State state) override
    {
        Loaded().addPixmap(pixmap, mode, state);
    }

    void addFile(const QString& fileName, const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        Loaded().addFile(fileName, size, mode, state);
    }

    bool isNull() override
    {
        if (FLoaded)
            return FLoaded->isNull();
        // Qt's engine keeps no picture of a file it cannot read; the header tells that already.
        if (!FReadable) {
            FReadable = false;
            for (const TIconFile& file : FFiles)
                if (QImageReader(file.Name).canRead())
                    FReadable = true;
        }
        return !*FReadable;
    }

    QIconEngine* clone() const override { return new TDeferredIconEngine(*this); }

private:
    QIcon& Loaded()
    {
        if (!FLoaded) {
            FLoaded.emplace();
            for (const TIconFile& file : FFiles)
                FLoaded->addFile(file.Name, file.Size);
        }
        return *FLoaded;
    }

    QList<TIconFile> FFiles;
    std::optional<QIcon> FLoaded;
    std::optional<bool> FReadable;
};

}  // namespace

QIcon DeferredIcon(const QList<TIconFile>& files)
{
    return QIcon(new TDeferredIconEngine(files));
}
