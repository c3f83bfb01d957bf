// An icon read from its image files only when a picture of it is first wanted: a window that is
// never shown (an autostart run with nothing to do) never decodes its icons.
#pragma once

#include <QIcon>
#include <QList>
#include <QSize>
#include <QString>

struct TIconFile {
    QString Name;
    // The picture of that size in the file; an invalid size takes every picture the file holds.
    QSize Size;
};

// The same icon as QIcon::addFile with each of `files` would give, decoded at first use.
QIcon DeferredIcon(const QList<TIconFile>& files);
