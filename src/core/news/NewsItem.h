// What the news window decides without a widget: the text and date it shows for a new or a
// postponed item, and the postponed copies it stores, finds and deletes in the data directory.
#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>

#include <pugixml.hpp>

struct TNewsView;

class TNewsItem {
public:
    // A new item of the news file; the node stays owned by its document, which must outlive
    // this object.
    explicit TNewsItem(const pugi::xml_node& NewsNode);
    // A postponed item: the full path of its file in the data directory.
    explicit TNewsItem(const QString& OldNewsFile);

    // The choices under the text, in the order of their indexes; the last is preselected.
    static const QStringList& ChoiceTexts();
    static constexpr int DefaultChoice = 3;
    // What the date label reads until an item's date is known.
    static const QString EmptyNewsDate;
    static const QString NewsFileName;  // "VL_NewsRTF.tmp"

    // One showing, as the news window has it: loads the item, shows it through the front end in
    // charge and closes it with the person's choice. An error while loading is shown in an error
    // box and the item is shown with what was loaded; an error while closing is shown too.
    void ShowModal();

    // What a window shows of the item as loaded so far: the date label, the text formatted and
    // plain, and the choices.
    TNewsView View() const;

    // Loads the item: its rich text (for a new item through "VL_NewsRTF.tmp" in the temporary
    // directory) and its date label. Raises EVorlandtError; what was loaded before the error
    // stays available, so the window can show it beside the message.
    void FormShow();
    // The bytes of the rich text as read from the file, and the date label's text.
    const QByteArray& NewsRtf() const { return FNewsRtf; }
    const QString& NewsDate() const { return FNewsDate; }

    // The window closes with the choice selected: stores a postponed copy when asked for, and
    // removes the postponed file this showing came from. Raises EVorlandtError only when the
    // data directory cannot be determined.
    void FormClose(int choiceIndex);

    // Stores a copy of the item's text when choiceIndex postpones it (0 a day, 1 two days, 2 a
    // week) and returns its path; empty when nothing was stored.
    QString SaveNewsForLater(int choiceIndex);

    // The first free name in dataDir (ending with "/") for an item of newsDate due on dueDate.
    static QString GetNewsFileName(const QString& dataDir, const QDate& newsDate, const QDate& dueDate);

    // The full paths of the postponed items due today, sorted by name.
    static QStringList GetOldNewsFiles();

    const pugi::xml_node& NewsNode() const { return FNewsNode; }
    const QString& OldNewsFile() const { return FOldNewsFile; }

private:
    void ShowNewsNode();
    void ShowOldNewsFile();

    pugi::xml_node FNewsNode;
    QString FOldNewsFile;

    QByteArray FNewsRtf;
    // True once the item's text was read in full; only then can it be postponed.
    bool FNewsLoaded = false;
    QString FNewsDate;
    // A postponed item's news date as its file name carries it.
    QDate FOldNewsDate;
    // Set when postponing was asked for but no copy could be stored.
    bool FSaveFailed = false;
};
