// The captions the window manager shows: exactly each window's own, with nothing of the program
// appended, under the names the program gives itself at start.
#include "core/news/NewsItem.h"
#include "gui/Application.h"
#include "gui/Einstellungen.h"
#include "gui/Information.h"
#include "gui/OpenAddress.h"
#include "gui/QtFrontEnd.h"
#include "gui/UpdateBenachrichtigung.h"
#include "gui/frmUserLog.h"
#include "gui/frmNewsAnzeige.h"
#include "support/FrontEndFixture.h"
#include "support/ScriptedFrontEnd.h"

#include "support/RunWorld.h"

#include <QWindow>
#include <QtTest>

#include <functional>
#include <memory>

#include <pugixml.hpp>

namespace {

// The caption as the X11 and Wayland platforms hand it to the window manager: Qt appends the
// application's display name, when one was set, to every title that does not already end with
// it. QWindow::title() itself never shows that suffix, so the rule is applied here; whether a
// display name was set shows in whether it still follows the application name.
QString WindowManagerCaption(const QWindow& window)
{
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(name + QStringLiteral("-probe"));
    const bool displayNameSet =
        QGuiApplication::applicationDisplayName() != QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(name);
    const QString displayName = QGuiApplication::applicationDisplayName();
    const QString title = window.title();
    if (!displayNameSet || title.endsWith(displayName))
        return title;
    return title + QStringLiteral(" — ") + displayName;
}

using TWindowFactory = std::function<std::unique_ptr<QWidget>()>;

}  // namespace

Q_DECLARE_METATYPE(TWindowFactory)

class tst_WindowCaptions : public QObject {
    Q_OBJECT

    std::unique_ptr<TRunWorld> FWorld;
    std::unique_ptr<TFrontEndFixture> FFrontEnd;
    pugi::xml_document FNewsDocument;
    std::unique_ptr<TNewsItem> FNews;

private Q_SLOTS:
    void initTestCase() { SetProgramIdentity(); }

    void init()
    {
        FWorld = std::make_unique<TRunWorld>();
        QVERIFY(FWorld->IsValid());
        FFrontEnd = std::make_unique<TFrontEndFixture>(TScriptCheck::None);
        QVERIFY(FNewsDocument.load_string(
            "<news><item id=\"1\" datum=\"01.03.2024\" updaterversion=\"6\"><beschreibung>{\\rtf1 "
            "Neuigkeit}</beschreibung></item></news>"));
        FNews = std::make_unique<TNewsItem>(FNewsDocument.document_element().first_child());
    }

    void cleanup()
    {
        FNews.reset();
        FFrontEnd.reset();
        FWorld.reset();
    }

    void captionIsTheWindowsOwn_data()
    {
        QTest::addColumn<TWindowFactory>("create");
        QTest::addColumn<QString>("caption");
        const auto box = [](TMsgDlgType type) {
            return TWindowFactory([type] {
                return std::make_unique<TMessageBox>(QStringLiteral("Text"), type, TMsgDlgButtons::mbOK, 0);
            });
        };
        QTest::newRow("notification dialog")
            << TWindowFactory([] { return std::make_unique<TfrmUpdateBenachrichtigung>(); })
            << QStringLiteral("Vorlandt Online-Updates");
        QTest::newRow("warning") << box(TMsgDlgType::mtWarning) << QStringLiteral("Warnung");
        QTest::newRow("error") << box(TMsgDlgType::mtError) << QStringLiteral("Fehler");
        QTest::newRow("information") << box(TMsgDlgType::mtInformation) << QStringLiteral("Informationen");
        QTest::newRow("confirmation") << box(TMsgDlgType::mtConfirmation) << QStringLiteral(u"Bestätigen");
        QTest::newRow("news window") << TWindowFactory([this] {
            return std::make_unique<TfrmNewsAnzeige>(FNews->View());
        }) << QStringLiteral("Es gibt Neuigkeiten!");
        QTest::newRow("settings") << TWindowFactory([] { return std::make_unique<TfrmEinstellungen>(); })
                                  << QStringLiteral("Einstellungen");
        QTest::newRow("installed updates") << TWindowFactory([] { return std::make_unique<TfrmUserLog>(); })
                                           << QStringLiteral("Installierte Updates");
        QTest::newRow("information") << TWindowFactory([] { return std::make_unique<TInfo>(); })
                                     << QStringLiteral("Information");
        QTest::newRow("address that did not open") << TWindowFactory([] {
            return std::make_unique<TfrmAddress>(QStringLiteral("https://www.vorlandt.example/"));
        }) << QStringLiteral("Adresse");
    }

    void captionIsTheWindowsOwn()
    {
        QFETCH(TWindowFactory, create);
        QFETCH(QString, caption);
        const std::unique_ptr<QWidget> window = create();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY(window->windowHandle() != nullptr);
        QCOMPARE(WindowManagerCaption(*window->windowHandle()), caption);
        window->hide();
    }
};

QTEST_MAIN(tst_WindowCaptions)
#include "tst_windowCaptions.moc"
