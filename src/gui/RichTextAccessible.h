// Read-only rich text with links as a screen reader meets it: a text it can read character by
// character, and each link an object of its own.
#pragma once

class QTextBrowser;

// Exposes `pane` as a read-only multi-line text (the text interface: characters, caret, selection,
// where each character is) whose links are its first children: each of role Link, named by its
// text, described by its address, opened by its press action (as a click on it opens it, through
// the pane's anchorClicked) and focused by its focus action; in process each also answers the
// hyperlink interface. Qt's AT-SPI bridge has no hypertext interface, so on Linux the links reach a
// screen reader as these children. Call right after creating the pane.
void ExposeLinks(QTextBrowser* pane);
