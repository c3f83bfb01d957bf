// The settings dialog on the screen: the enabled states after clicks, every showing reloading the
// store, OK saving through exec() and handing a refused write to its caller, the module list for
// administrators and the warning for everybody else, the controls an administrator's policy locks,
// and the log and help buttons.
#include "support/EinstellungenWorld.h"

#include "core/platform/VorlandtError.h"
#include "core/platform/store/StoreBackend.h"
#include "core/services/BasicProcs.h"
#include "core/services/Log.h"
#include "core/settings/SettingsValues.h"
#include "gui/Application.h"
#include "gui/Einstellungen.h"
#include "gui/Information.h"
#include "gui/OpenAddress.h"
#include "gui/ScreenFit.h"
#include "support/FrontEndFixture.h"
#include "support/ModalAnswer.h"
#include "support/ScriptedFrontEnd.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTest>
#include <QToolButton>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace K = SettingsKeys;

class TestFrmEinstellungen : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TSettingsWorld> FWorld;
    std::unique_ptr<TFrontEndFixture> FFrontEnd;
    std::unique_ptr<TfrmEinstellungen> FDialog;

    QCheckBox* Box(const QString& name) const { return FDialog->findChild<QCheckBox*>(name); }

    // Every control a policy can lock, by object name.
    QList<QWidget*> LockableControls() const
    {
        return {FDialog->cbAktiv,
                FDialog->cbNews,
                FDialog->cbLocalSource,
                FDialog->edLocalSource,
                FDialog->btnLocalSourceBrowse,
                FDialog->seDays,
                FDialog->cbLog,
                FDialog->cbProxyVerwenden,
                FDialog->lbledtProxyServer,
                FDialog->lbledtProxyPort,
                FDialog->lbledtProxyUsername,
                FDialog->lbledtProxyPassword,
                FDialog->lbledtUserAgent};
    }

    // What a control shows: a box's tick, a field's text, the spin field's number.
    static QString Shown(QWidget* control)
    {
        if (auto* box = qobject_cast<QCheckBox*>(control))
            return box->isChecked() ? QStringLiteral("ticked") : QStringLiteral("cleared");
        if (auto* field = qobject_cast<QLineEdit*>(control))
            return field->text();
        if (auto* spin = qobject_cast<QSpinBox*>(control))
            return QString::number(spin->value());
        return QString();
    }

    // The user's own values under which every lockable control is enabled.
    static void StoreUserValuesThatEnableEverything()
    {
        WriteStringValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::LocalSource, QStringLiteral("/srv/u/"));
        WriteBoolValue(HKEY_CURRENT_USER, K::Proxy, K::ProxyAktiv, true);
        WriteStringValue(HKEY_CURRENT_USER, K::Proxy, K::ProxyServer, QStringLiteral("mein.proxy"));
    }

    static std::optional<platform::TRawValue> OwnValue(const QString& key, const QString& name)
    {
        return platform::StoreBackend::readValue(HKEY_CURRENT_USER, key, name);
    }

    // The colour both interval labels are drawn in: "normal", "grey" or what else it is.
    QString LabelColour() const
    {
        const QColor label1 = FDialog->Label1->palette().color(QPalette::WindowText);
        if (FDialog->Label2->palette().color(QPalette::WindowText) != label1)
            return QStringLiteral("two colours");
        if (label1 == FDialog->palette().color(QPalette::Active, QPalette::WindowText))
            return QStringLiteral("normal");
        if (label1 == FDialog->palette().color(QPalette::Disabled, QPalette::WindowText))
            return QStringLiteral("grey");
        return label1.name();
    }

private slots:
    void init()
    {
        FWorld = std::make_unique<TSettingsWorld>();
        QVERIFY(FWorld->IsValid());
        FFrontEnd = std::make_unique<TFrontEndFixture>(TScriptCheck::None);
        QVERIFY(TSettingsWorld::CreateRegistrationKey());
        FDialog = std::make_unique<TfrmEinstellungen>();
    }

    void cleanup()
    {
        FDialog.reset();
        FFrontEnd.reset();
        FWorld.reset();
    }

    // The keyboard in the dialog: Enter on a picture button presses that button (the dialog stays
    // open with whatever is half-edited), Enter in a field is OK, and the access keys of OK and
    // Abbrechen press them from anywhere.
    void keysPressTheButtonMeant_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("opened");  // the window the key opened, empty for none
        QTest::addColumn<int>("result");      // the dialog's result; -1 while it stays open
        QTest::newRow("Enter on the folder button")
            << "btnLocalSourceBrowse" << int(Qt::Key_Return) << int(Qt::NoModifier) << "QFileDialog" << -1;
        QTest::newRow("Enter on the log files' button")
            << "BitBtn4" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "TInfo" << -1;
        QTest::newRow("Enter in the folder field")
            << "edLocalSource" << int(Qt::Key_Return) << int(Qt::NoModifier) << "" << int(QDialog::Accepted);
        QTest::newRow("Alt+A") << "edLocalSource" << int(Qt::Key_A) << int(Qt::AltModifier) << ""
                               << int(QDialog::Rejected);
        QTest::newRow("Alt+O") << "cbNews" << int(Qt::Key_O) << int(Qt::AltModifier) << ""
                               << int(QDialog::Accepted);
    }
    void keysPressTheButtonMeant()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, opened);
        QFETCH(int, result);
        WriteStringValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::LocalSource, QStringLiteral("/srv/u/"));
        QSignalSpy finished(FDialog.get(), &QDialog::finished);
        FDialog->open();
        QVERIFY(QTest::qWaitForWindowActive(FDialog.get()));
        auto* control = FDialog->findChild<QWidget*>(focus);
        QVERIFY(control != nullptr && control->isEnabled());
        control->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), control);
        QString seen;
        TModalAnswer answer([&](QWidget* modal) {
            if (modal == FDialog.get())
                return;
            seen = QString::fromLatin1(modal->metaObject()->className());
            static_cast<QDialog*>(modal)->reject();
        });
        QTest::keyClick(FDialog->windowHandle(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        if (!opened.isEmpty())
            QTRY_COMPARE(seen, opened);
        // An access key shows the button pressed for a moment before it acts.
        if (result >= 0)
            QTRY_VERIFY(!finished.isEmpty());
        QCOMPARE(finished.isEmpty(), result < 0);
        if (result >= 0)
            QCOMPARE(finished.at(0).at(0).toInt(), result);
        QCOMPARE(FDialog->edLocalSource->text(), QStringLiteral("/srv/u/"));
    }

    // On a screen too small for the dialog its page scrolls, and OK, Abbrechen and Hilfe stay in
    // sight below it, in the order Tab takes.
    void buttonsStayInSightWhereThePageScrolls()
    {
        QFont large = QApplication::font();
        const QFont before = large;
        const auto restore = qScopeGuard([before] { QApplication::setFont(before); });
        large.setPointSizeF(3 * ReferenceDesktopPointSize);
        QApplication::setFont(large);
        TfrmEinstellungen dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* scroll = dialog.findChild<QScrollArea*>();
        QVERIFY(scroll != nullptr);
        QVERIFY(scroll->verticalScrollBar()->maximum() > 0 || scroll->horizontalScrollBar()->maximum() > 0);
        for (QPushButton* button : {dialog.BitBtn1, dialog.BitBtn2, dialog.BitBtn3}) {
            QVERIFY(!scroll->isAncestorOf(button));
            QTRY_VERIFY(button->isVisible());
            const QRect onScreen(button->mapToGlobal(QPoint(0, 0)), button->size());
            QVERIFY(dialog.screen()->availableGeometry().contains(onScreen));
        }
        dialog.BitBtn1->setFocus(Qt::TabFocusReason);
        QTest::keyClick(dialog.windowHandle(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dialog.BitBtn2);
        QTest::keyClick(dialog.windowHandle(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dialog.BitBtn3);
        QTest::keyClick(dialog.windowHandle(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dialog.clbModule));
        dialog.reject();
    }

    void enabledStatesFollowTheBoxes_data()
    {
        QTest::addColumn<bool>("aktiv");
        QTest::addColumn<bool>("local");
        QTest::addColumn<bool>("proxy");
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<bool>("searchControls");  // cbNews, cbLocalSource, seDays
        QTest::addColumn<bool>("directory");
        QTest::addColumn<bool>("proxyFields");
        const QStringList none;
        QTest::newRow("all on") << true << true << true << none << true << true << true;
        QTest::newRow("loaded with autostart off")
            << false << true << false << none << false << false << false;
        QTest::newRow("autostart cleared")
            << true << true << false << QStringList{"cbAktiv"} << false << false << false;
        QTest::newRow("autostart ticked again")
            << false << true << false << QStringList{"cbAktiv"} << true << true << false;
        QTest::newRow("local source cleared")
            << true << true << false << QStringList{"cbLocalSource"} << true << false << false;
        QTest::newRow("local source ticked")
            << true << false << false << QStringList{"cbLocalSource"} << true << true << false;
        QTest::newRow("log box leaves autostart's states")
            << false << true << false << QStringList{"cbLog"} << false << false << false;
        QTest::newRow("proxy ticked")
            << true << false << false << QStringList{"cbProxyVerwenden"} << true << false << true;
        QTest::newRow("proxy cleared")
            << true << false << true << QStringList{"cbProxyVerwenden"} << true << false << false;
    }

    void enabledStatesFollowTheBoxes()
    {
        QFETCH(bool, aktiv);
        QFETCH(bool, local);
        QFETCH(bool, proxy);
        QFETCH(QStringList, clicks);
        QFETCH(bool, searchControls);
        QFETCH(bool, directory);
        QFETCH(bool, proxyFields);
        WriteBoolValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::Disable, !aktiv);
        if (local)
            WriteStringValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::LocalSource, QStringLiteral("/srv/u/"));
        WriteBoolValue(HKEY_CURRENT_USER, K::Proxy, K::ProxyAktiv, proxy);

        FDialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(FDialog.get()));
        for (const QString& name : clicks) {
            QCheckBox* box = Box(name);
            QVERIFY2(box && box->isEnabled(), qPrintable(name));
            QTest::mouseClick(box, Qt::LeftButton);
        }

        QCOMPARE(FDialog->cbNews->isEnabled(), searchControls);
        QCOMPARE(FDialog->cbLocalSource->isEnabled(), searchControls);
        QCOMPARE(FDialog->seDays->isEnabled(), searchControls);
        QCOMPARE(LabelColour(), searchControls ? QStringLiteral("normal") : QStringLiteral("grey"));
        QCOMPARE(FDialog->edLocalSource->isEnabled(), directory);
        for (QLineEdit* field : {static_cast<QLineEdit*>(FDialog->lbledtProxyServer),
                                 static_cast<QLineEdit*>(FDialog->lbledtProxyPort),
                                 static_cast<QLineEdit*>(FDialog->lbledtProxyUsername),
                                 static_cast<QLineEdit*>(FDialog->lbledtProxyPassword)})
            QCOMPARE(field->isEnabled(), proxyFields);
        QCOMPARE(FDialog->lbledtProxyServer->EditLabel->isEnabled(), proxyFields);
        QVERIFY(FDialog->lbledtUserAgent->isEnabled());
    }

    // Each value a policy sets locks its controls, shows the policy's value and says why; the
    // note shows in that control's part of the dialog only; everything else stays as it was.
    void policyLocksItsControls_data()
    {
        QTest::addColumn<QString>("policyKey");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QStringList>("locked");
        QTest::addColumn<QString>("shown");  // by the first locked control
        QTest::addColumn<QString>("note");   // the part whose note shows
        const QString ou = K::PolicyOnlineUpdate;
        QTest::newRow("no policy") << QString() << QString() << QVariant() << QStringList() << QString()
                                   << QString();
        QTest::newRow("server address: no control")
            << ou << K::UpdateURL << QVariant(QStringLiteral("https://spiegel.firma/")) << QStringList()
            << QString() << QString();
        QTest::newRow("search on") << ou << K::Disable << QVariant(0) << QStringList{"cbAktiv"} << "ticked"
                                   << "suche";
        QTest::newRow("interval") << ou << K::IntervalInHours << QVariant(168) << QStringList{"seDays"} << "7"
                                  << "suche";
        QTest::newRow("folder") << ou << K::LocalSource << QVariant(QStringLiteral("/srv/firma/"))
                                << QStringList{"edLocalSource", "cbLocalSource", "btnLocalSourceBrowse"}
                                << "/srv/firma/"
                                << "suche";
        QTest::newRow("news") << ou << K::NewsAktiv << QVariant(0) << QStringList{"cbNews"} << "cleared"
                              << "suche";
        QTest::newRow("log") << K::PolicyLog << K::LogAktiv << QVariant(1) << QStringList{"cbLog"} << "ticked"
                             << "proxy";
        QTest::newRow("proxy on") << K::PolicyProxy << K::ProxyAktiv << QVariant(1)
                                  << QStringList{"cbProxyVerwenden"} << "ticked"
                                  << "proxy";
        QTest::newRow("proxy server")
            << K::PolicyProxy << K::ProxyServer << QVariant(QStringLiteral("proxy.firma"))
            << QStringList{"lbledtProxyServer"} << "proxy.firma"
            << "proxy";
        QTest::newRow("proxy port") << K::PolicyProxy << K::ProxyPort << QVariant(3128)
                                    << QStringList{"lbledtProxyPort"} << "3128"
                                    << "proxy";
        QTest::newRow("proxy user") << K::PolicyProxy << K::ProxyUsername
                                    << QVariant(QStringLiteral("updater"))
                                    << QStringList{"lbledtProxyUsername"} << "updater"
                                    << "proxy";
        QTest::newRow("proxy password")
            << K::PolicyProxy << K::ProxyPassword
            << QVariant(ScramblePassword(QStringLiteral("geheim"), K::PasswordScrambleKey))
            << QStringList{"lbledtProxyPassword"} << "geheim"
            << "proxy";
        QTest::newRow("user agent") << K::PolicyProxy << K::UserAgent
                                    << QVariant(QStringLiteral("Firmen-Updater"))
                                    << QStringList{"lbledtUserAgent"} << "Firmen-Updater"
                                    << "proxy";
    }

    void policyLocksItsControls()
    {
        QFETCH(QString, policyKey);
        QFETCH(QString, name);
        QFETCH(QVariant, value);
        QFETCH(QStringList, locked);
        QFETCH(QString, shown);
        QFETCH(QString, note);
        StoreUserValuesThatEnableEverything();
        if (value.typeId() == QMetaType::Int)
            WriteIntegerValue(HKEY_LOCAL_MACHINE, policyKey, name, value.toInt());
        else if (value.isValid())
            WriteStringValue(HKEY_LOCAL_MACHINE, policyKey, name, value.toString());
        // Without a policy, what each control says of itself.
        QHash<QWidget*, QPair<QString, QString>> own;
        for (QWidget* control : LockableControls())
            own.insert(control, {control->toolTip(), control->accessibleDescription()});

        FDialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(FDialog.get()));

        for (QWidget* control : LockableControls()) {
            const QString id = control->objectName();
            if (locked.contains(id)) {
                QVERIFY2(!control->isEnabled(), qPrintable(id));
                QVERIFY2(control->accessibleDescription().endsWith(PolicyLockNote), qPrintable(id));
                QVERIFY2(control->toolTip().endsWith(PolicyLockNote), qPrintable(id));
                // A control's own words stay in front of the note.
                QVERIFY2(control->accessibleDescription().startsWith(own[control].second), qPrintable(id));
                QVERIFY2(control->toolTip().startsWith(own[control].first), qPrintable(id));
            } else {
                QVERIFY2(control->isEnabled(), qPrintable(id));
                QCOMPARE(control->toolTip(), own[control].first);
                QCOMPARE(control->accessibleDescription(), own[control].second);
            }
        }
        if (!locked.isEmpty())
            QCOMPARE(Shown(FDialog->findChild<QWidget*>(locked.first())), shown);
        QCOMPARE(FDialog->lblPolicySuche->isVisible(), note == QStringLiteral("suche"));
        QCOMPARE(FDialog->lblPolicyProxy->isVisible(), note == QStringLiteral("proxy"));
        QCOMPARE(FDialog->lblPolicySuche->text(), QStringLiteral("Vom Administrator festgelegt."));
        QCOMPARE(FDialog->lblPolicyProxy->text(), QStringLiteral("Vom Administrator festgelegt."));
        // The interval's sentence greys with its field.
        QCOMPARE(LabelColour(), locked.contains(QStringLiteral("seDays")) ? QStringLiteral("grey")
                                                                          : QStringLiteral("normal"));
        // Clicking the boxes that stay free never frees a locked control.
        for (QCheckBox* box : {FDialog->cbLocalSource, FDialog->cbProxyVerwenden}) {
            if (!box->isEnabled())
                continue;
            QTest::mouseClick(box, Qt::LeftButton);
            QTest::mouseClick(box, Qt::LeftButton);
        }
        for (const QString& id : locked)
            QVERIFY2(!FDialog->findChild<QWidget*>(id)->isEnabled(), qPrintable(id));
    }

    // OK leaves the user's own values of locked controls as they were, whatever the controls
    // hold, and saves every other control.
    void okSkipsLockedControls()
    {
        StoreUserValuesThatEnableEverything();
        WriteBoolValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::NewsAktiv, true);
        WriteIntegerValue(HKEY_LOCAL_MACHINE, K::PolicyOnlineUpdate, K::NewsAktiv, 0);
        WriteStringValue(HKEY_LOCAL_MACHINE, K::PolicyProxy, K::ProxyServer, QStringLiteral("proxy.firma"));
        TModalAnswer answer([](QWidget* modal) {
            auto* dialog = qobject_cast<TfrmEinstellungen*>(modal);
            if (dialog == nullptr)
                return;
            // Disabled controls still hold values; none of them may reach the store.
            dialog->cbNews->setChecked(true);
            dialog->lbledtProxyServer->setText(QStringLiteral("anders.proxy"));
            dialog->seDays->setValue(9);
            dialog->lbledtProxyPort->setText(QStringLiteral("8080"));
            QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
        });
        QCOMPARE(FDialog->exec(), int(QDialog::Accepted));
        QVERIFY(!answer.WatchdogFired());
        QCOMPARE(OwnValue(K::OnlineUpdate, K::NewsAktiv), std::optional(platform::TRawValue::fromDWord(1)));
        QCOMPARE(ReadStringValue(HKEY_CURRENT_USER, K::Proxy, K::ProxyServer, QString()),
                 QStringLiteral("proxy.firma"));
        QCOMPARE(OwnValue(K::Proxy, K::ProxyServer),
                 std::optional(platform::TRawValue::fromString(QStringLiteral("mein.proxy"))));
        QCOMPARE(OwnValue(K::OnlineUpdate, K::IntervalInHours),
                 std::optional(platform::TRawValue::fromDWord(216)));
        QCOMPARE(OwnValue(K::Proxy, K::ProxyPort), std::optional(platform::TRawValue::fromDWord(8080)));
    }

    // A policy that has gone frees its controls at the next showing, with their own words back.
    void liftedPolicyFreesTheControls()
    {
        StoreUserValuesThatEnableEverything();
        const QString ownTip = FDialog->btnLocalSourceBrowse->toolTip();
        const QString ownDescription = FDialog->edLocalSource->accessibleDescription();
        WriteStringValue(HKEY_LOCAL_MACHINE, K::PolicyOnlineUpdate, K::LocalSource,
                         QStringLiteral("/srv/firma/"));
        WriteIntegerValue(HKEY_LOCAL_MACHINE, K::PolicyLog, K::LogAktiv, 1);
        FDialog->show();
        QVERIFY(!FDialog->edLocalSource->isEnabled());
        QVERIFY(FDialog->lblPolicySuche->isVisible());
        QVERIFY(FDialog->lblPolicyProxy->isVisible());
        FDialog->reject();

        QVERIFY(platform::StoreBackend::deleteKey(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\Policies")));
        FDialog->show();
        QVERIFY(FDialog->edLocalSource->isEnabled());
        QVERIFY(FDialog->btnLocalSourceBrowse->isEnabled());
        QVERIFY(FDialog->cbLog->isEnabled());
        QCOMPARE(FDialog->edLocalSource->text(), QStringLiteral("/srv/u/"));
        QCOMPARE(FDialog->btnLocalSourceBrowse->toolTip(), ownTip);
        QCOMPARE(FDialog->edLocalSource->accessibleDescription(), ownDescription);
        QVERIFY(!FDialog->lblPolicySuche->isVisible());
        QVERIFY(!FDialog->lblPolicyProxy->isVisible());
    }

    // Locked controls leave the tab order; the focus starts on the first control still free.
    void focusStartsOnTheFirstFreeControl_data()
    {
        QTest::addColumn<QVariant>("disable");  // the policy's "Disable", none when invalid
        QTest::addColumn<QString>("first");
        QTest::newRow("no policy") << QVariant() << QStringLiteral("cbAktiv");
        QTest::newRow("search locked on") << QVariant(0) << QStringLiteral("cbNews");
        QTest::newRow("search locked off") << QVariant(1) << QStringLiteral("BitBtn1");
    }

    void focusStartsOnTheFirstFreeControl()
    {
        QFETCH(QVariant, disable);
        QFETCH(QString, first);
        if (disable.isValid())
            WriteIntegerValue(HKEY_LOCAL_MACHINE, K::PolicyOnlineUpdate, K::Disable, disable.toInt());
        FDialog->show();
        QVERIFY(QTest::qWaitForWindowActive(FDialog.get()));
        QVERIFY(QApplication::focusWidget() != nullptr);
        QCOMPARE(QApplication::focusWidget()->objectName(), first);
    }

    void everyShowingReloadsAndCancelDiscards()
    {
        FDialog->show();
        FDialog->cbNews->setChecked(false);
        FDialog->lbledtProxyPort->setText(QStringLiteral("1234"));
        FDialog->seDays->setValue(9);
        QTest::mouseClick(FDialog->BitBtn2, Qt::LeftButton);
        QVERIFY(!FDialog->isVisible());
        QCOMPARE(FDialog->result(), int(QDialog::Rejected));
        QVERIFY(!ValueExists(HKEY_CURRENT_USER, K::OnlineUpdate, K::NewsAktiv));
        QVERIFY(!ValueExists(HKEY_CURRENT_USER, K::Proxy, K::ProxyPort));

        WriteIntegerValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::IntervalInHours, 240);
        FDialog->show();
        QVERIFY(FDialog->cbNews->isChecked());
        QCOMPARE(FDialog->lbledtProxyPort->text(), QStringLiteral("80"));
        QCOMPARE(FDialog->seDays->value(), 10);
    }

    void okSavesThroughExec()
    {
        TModalAnswer answer([](QWidget* modal) {
            auto* dialog = qobject_cast<TfrmEinstellungen*>(modal);
            if (dialog == nullptr)
                return;
            QTest::mouseClick(dialog->cbAktiv, Qt::LeftButton);
            QTest::mouseClick(dialog->cbProxyVerwenden, Qt::LeftButton);
            dialog->lbledtProxyPort->setText(QStringLiteral("80a"));
            dialog->lbledtProxyPassword->setText(QStringLiteral("Geheim"));
            QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
        });
        QCOMPARE(FDialog->exec(), int(QDialog::Accepted));
        QVERIFY(!answer.WatchdogFired());

        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::Disable, -1), 1);
        QVERIFY(!QFile::exists(FWorld->AutostartFile()));
        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, K::Proxy, K::ProxyAktiv, -1), 1);
        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, K::Proxy, K::ProxyPort, -1), 0);
        QCOMPARE(ReadStringValue(HKEY_CURRENT_USER, K::Proxy, K::ProxyPassword, QString()),
                 ScramblePassword(QStringLiteral("Geheim"), K::PasswordScrambleKey));
        QVERIFY(FFrontEnd->Messages().isEmpty());
    }

    void tickedAutostartWritesEntryForThisProgram()
    {
        TModalAnswer answer([](QWidget* modal) {
            if (auto* dialog = qobject_cast<TfrmEinstellungen*>(modal))
                QTest::keyClick(dialog, Qt::Key_Return);
        });
        QCOMPARE(FDialog->exec(), int(QDialog::Accepted));
        QFile entry(FWorld->AutostartFile());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains("\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() +
                                         "\" -a\n"));
    }

    void passwordFieldShowsStars()
    {
        WriteStringValue(HKEY_CURRENT_USER, K::Proxy, K::ProxyPassword,
                         ScramblePassword(QStringLiteral("abc"), K::PasswordScrambleKey));
        FDialog->show();
        QCOMPARE(FDialog->lbledtProxyPassword->text(), QStringLiteral("abc"));
        QCOMPARE(FDialog->lbledtProxyPassword->displayText(), QStringLiteral("***"));
    }

    void refusedSaveReachesTheCallerOfExec()
    {
        TSettingsWorld::AddModule(QStringLiteral("Kasse"), std::nullopt);
        TSettingsWorld::AddModule(QStringLiteral("Lager"), std::nullopt);
        QVERIFY(FWorld->RefuseModuleWrites(QStringLiteral("Lager")));
        TModalAnswer answer([](QWidget* modal) {
            if (auto* dialog = qobject_cast<TfrmEinstellungen*>(modal))
                QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
        });
        QString message = QStringLiteral("<none>");
        try {
            FDialog->exec();
        } catch (const EVorlandtError& e) {
            message = e.message();
        }
        QCOMPARE(message,
                 QStringLiteral("Unable to open key \"HKEY_LOCAL_MACHINE\\Software\\KRSoftware\\Module\\"
                                "OnlineUpdateModule\\Lager\" for write"));
        QVERIFY(!FDialog->isVisible());
        QCOMPARE(FDialog->result(), int(QDialog::Accepted));
        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::NewsAktiv, -1), 1);
        QCOMPARE(TSettingsWorld::ModuleDisabled(QStringLiteral("Kasse")), std::optional<qint32>(0));
        QVERIFY(!ValueExists(HKEY_CURRENT_USER, K::Log, K::LogAktiv));
        // Only the caller shows it: no second box from the dialog.
        QVERIFY(FFrontEnd->Messages().isEmpty());

        // The next showing starts clean.
        TModalAnswer cancel([](QWidget* modal) {
            if (auto* dialog = qobject_cast<TfrmEinstellungen*>(modal))
                dialog->reject();
        });
        QCOMPARE(FDialog->exec(), int(QDialog::Rejected));
    }

    void administratorSeesModulesTickedUnlessDisabled()
    {
        if (!HasAdminRights())
            QSKIP("the private machine store is not writable here");
        TSettingsWorld::AddModule(QStringLiteral("Kasse"), std::nullopt);
        TSettingsWorld::AddModule(QStringLiteral("Lager"), 1);
        FDialog->show();
        QVERIFY(FDialog->pnlNoAdminWarning->isHidden());
        QCOMPARE(FDialog->clbModule->count(), 2);
        QCOMPARE(FDialog->clbModule->item(0)->text(), QStringLiteral("Kasse"));
        QCOMPARE(FDialog->clbModule->item(0)->checkState(), Qt::Checked);
        QCOMPARE(FDialog->clbModule->item(1)->text(), QStringLiteral("Lager"));
        QCOMPARE(FDialog->clbModule->item(1)->checkState(), Qt::Unchecked);

        FDialog->clbModule->item(0)->setCheckState(Qt::Unchecked);
        FDialog->clbModule->item(1)->setCheckState(Qt::Checked);
        QTest::mouseClick(FDialog->BitBtn1, Qt::LeftButton);
        QCOMPARE(TSettingsWorld::ModuleDisabled(QStringLiteral("Kasse")), std::optional<qint32>(1));
        QCOMPARE(TSettingsWorld::ModuleDisabled(QStringLiteral("Lager")), std::optional<qint32>(0));
    }

    void missingRegistrationKeyShownWhileTheRestLoads()
    {
        if (!HasAdminRights())
            QSKIP("the private machine store is not writable here");
        QVERIFY(platform::StoreBackend::deleteKey(HKEY_LOCAL_MACHINE, K::OnlineUpdateModule));
        WriteIntegerValue(HKEY_CURRENT_USER, K::Proxy, K::ProxyPort, 3128);
        FFrontEnd->Answer({mrOk});
        FDialog->show();
        QCOMPARE(FDialog->lbledtProxyPort->text(), QStringLiteral("3128"));
        QCOMPARE(FDialog->clbModule->count(), 0);
        QTRY_COMPARE(FFrontEnd->Messages().size(), 1);
        QCOMPARE(
            FFrontEnd->Messages().first(),
            (TShownMessage{QStringLiteral("Unable to open key \"HKEY_LOCAL_MACHINE\\Software\\KRSoftware\\"
                                          "Module\\OnlineUpdateModule\\\" for read"),
                           TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0}));
    }

    void nonAdministratorSeesWarningAndWritesNoModule()
    {
        if (geteuid() != 0)
            QSKIP("needs root to run the dialog as an unprivileged user");
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("setpriv (util-linux) is not installed");

        // Registrations written by root as an installer would: the store file 0644 in a 0755 folder.
        TSettingsWorld::AddModule(QStringLiteral("Kasse"), std::nullopt);
        TSettingsWorld::AddModule(QStringLiteral("Lager"), 1);
        const auto mode = [](const QString& path, mode_t m) {
            return ::chmod(QFile::encodeName(path).constData(), m) == 0;
        };
        QVERIFY(mode(FWorld->Root(), 0755));
        QVERIFY(mode(FWorld->Path(QStringLiteral("machine")), 0755));
        QVERIFY(mode(FWorld->MachineStoreFile(), 0644));
        QVERIFY(mode(FWorld->Path(QStringLiteral("user")), 0777));
        QVERIFY(QDir().mkpath(FWorld->Path(QStringLiteral("config"))));
        QVERIFY(mode(FWorld->Path(QStringLiteral("config")), 0777));
        QVERIFY(QDir().mkpath(FWorld->Path(QStringLiteral("home"))));
        QVERIFY(mode(FWorld->Path(QStringLiteral("home")), 0777));
        const QString child = FWorld->Path(QStringLiteral("einstellungenChild"));
        QVERIFY(QFile::copy(QStringLiteral(VORLANDT_EINSTELLUNGEN_CHILD), child));
        QVERIFY(mode(child, 0755));

        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), FWorld->Path(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), FWorld->Path(QStringLiteral("home")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        process.setProcessEnvironment(env);
        process.start(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", child});
        QVERIFY(process.waitForFinished(120000));
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, qPrintable(errors));
        const QStringList lines =
            QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines, (QStringList{"admin=false", "warning=visible", "modules=0", "closed=yes"}));

        // The installers' values stay as they were; the user's own were saved.
        QCOMPARE(TSettingsWorld::ModuleDisabled(QStringLiteral("Kasse")), std::nullopt);
        QCOMPARE(TSettingsWorld::ModuleDisabled(QStringLiteral("Lager")), std::optional<qint32>(1));
        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::Disable, -1), 0);
        QCOMPARE(ReadStringValue(HKEY_CURRENT_USER, K::Proxy, K::UserAgent, QString()),
                 QStringLiteral("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)"));
        QVERIFY(QFile::exists(FWorld->AutostartFile()));
    }

    void logButtonNamesTheFolderTheLogGoesTo()
    {
        QString shown;
        TModalAnswer answer([&shown](QWidget* modal) {
            if (auto* info = qobject_cast<TInfo*>(modal)) {
                shown = info->MessageText();
                info->ButtonOK->click();
            }
        });
        QTest::mouseClick(FDialog->BitBtn4, Qt::LeftButton);
        QVERIFY(!answer.WatchdogFired());
        QVERIFY(shown.startsWith(
            QStringLiteral("Der VorlandtOnlineUpdater erzeugt beim Schließen der Anwendung")));
        QVERIFY2(shown.endsWith(QStringLiteral("finden:\n\r") + LogDirectory()), qPrintable(shown));
    }

    // The help button opens the manual the program decided on at start, at the settings' part,
    // in the desktop's browser; F1 does the same.
    void helpButtonOpensTheManualAtTheSettings_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("Hilfe") << false;
        QTest::newRow("F1") << true;
    }

    void helpButtonOpensTheManualAtTheSettings()
    {
        QFETCH(bool, byKey);
        const QString helpFile = FWorld->Path(QStringLiteral("hilfe/index.html"));
        QVERIFY(QDir().mkpath(FWorld->Path(QStringLiteral("hilfe"))));
        QFile file(helpFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        SetApplicationHelpFile(helpFile);
        const auto reset = qScopeGuard([] { SetApplicationHelpFile(QString()); });
        if (byKey) {
            FDialog->show();
            QVERIFY(QTest::qWaitForWindowActive(FDialog.get()));
            QTest::keyClick(FDialog.get(), Qt::Key_F1);
        } else {
            QTest::mouseClick(FDialog->BitBtn3, Qt::LeftButton);
        }
        QCOMPARE(FFrontEnd->OpenedDocuments(),
                 QStringList{QUrl::fromLocalFile(helpFile).toString() + QStringLiteral("#kontext-10003")});
        QCOMPARE(FFrontEnd->Messages(), QList<TShownMessage>());
    }

    // Where nothing can open the manual, a window shows its address, selected for copying.
    void manualThatCannotBeOpenedShowsItsAddress()
    {
        const QString helpFile = FWorld->Path(QStringLiteral("index.html"));
        QFile file(helpFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        SetApplicationHelpFile(helpFile);
        const auto reset = qScopeGuard([] { SetApplicationHelpFile(QString()); });
        FFrontEnd->SetOpenDocumentResult(false);
        QString shown;
        QString selected;
        bool focused = false;
        TModalAnswer answer([&](QWidget* modal) {
            if (auto* form = qobject_cast<TfrmAddress*>(modal)) {
                shown = form->edAdresse->text();
                selected = form->edAdresse->selectedText();
                focused = form->focusWidget() == form->edAdresse;
                QVERIFY(form->edAdresse->isReadOnly());
                form->btnOK->click();
            }
        });
        QTest::mouseClick(FDialog->BitBtn3, Qt::LeftButton);
        QVERIFY(!answer.WatchdogFired());
        const QString address = QUrl::fromLocalFile(helpFile).toString() + QStringLiteral("#kontext-10003");
        QCOMPARE(shown, address);
        QCOMPARE(selected, address);
        QVERIFY(focused);
        QCOMPARE(FFrontEnd->Messages(), QList<TShownMessage>());
    }

    void helpButtonWithoutHelpFileNamesThePath()
    {
        const QString helpFile = HelpIndexFile();
        if (QFile::exists(helpFile))
            QSKIP("a manual is installed beside the test program");
        FFrontEnd->Answer({mrOk});
        QTest::mouseClick(FDialog->BitBtn3, Qt::LeftButton);
        QCOMPARE(FFrontEnd->Messages(),
                 (QList<TShownMessage>{
                     {QStringLiteral("Die Hilfedatei \"%1\" wurde nicht gefunden.").arg(helpFile),
                      TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0}}));
        QVERIFY(FFrontEnd->OpenedDocuments().isEmpty());
    }

    // The installed manual: beside the program's bin folder under share/, or where VORLANDT_HELP
    // says.
    void manualIsFoundWhereItIsInstalled()
    {
        const QByteArray before = qgetenv("VORLANDT_HELP");
        const auto restore = qScopeGuard([before] { qputenv("VORLANDT_HELP", before); });
        qunsetenv("VORLANDT_HELP");
        QCOMPARE(HelpIndexFile(),
                 QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                 QStringLiteral("/../share/vorlandt-online-updater/hilfe/index.html")));
        qputenv("VORLANDT_HELP", "/opt/hilfe/index.html");
        QCOMPARE(HelpIndexFile(), QStringLiteral("/opt/hilfe/index.html"));
        QCOMPARE(HelpTopicAddress(QStringLiteral("/opt/hilfe/index.html"), 10003),
                 QStringLiteral("file:///opt/hilfe/index.html#kontext-10003"));
        QCOMPARE(HelpTopicAddress(QStringLiteral("/opt/Hilfe und mehr/index.html"), 0),
                 QStringLiteral("file:///opt/Hilfe%20und%20mehr/index.html"));
    }
};

QTEST_MAIN(TestFrmEinstellungen)
#include "tst_frmEinstellungen.moc"
