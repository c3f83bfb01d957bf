// The deferred icon hands every question about pictures to the icon Qt itself makes from the
// files, made at the first such question; until then no file is opened.
#include "gui/DeferredIcon.h"

#include <QGuiApplication>
#include <QIconEngine>
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
        // Qt's engine answers with the size of the picture it would hand out for `size`, and
        // with an invalid size where it has none.
        const QPixmap picture = pixmap(size, mode, state);
        return picture.isNull() ? QSize() : picture.size();
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
        // An icon Qt made from files is no null icon, even where none of them could be read.
        return FLoaded && FLoaded->isNull();
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
};

}  // namespace

QIcon DeferredIcon(const QList<TIconFile>& files)
{
    // Without a file QIcon makes no engine at all: the null icon.
    if (files.isEmpty())
        return QIcon();
    return QIcon(new TDeferredIconEngine(files));
}
