#include <QFile>
#include <QMenuBar>
#include <QToolBar>
#include <QtTest>
#include <thread>

#include "ActionHandler.h"
#include "AppState.h"
#include "CMainFrame.h"
#include "EntryRules.h"
#include "FolderTreeModel.h"
#include "ListContextMenu.h"
#include "SignInFlow.h"
#include "Translations.h"
#include "dialogs/CSettingDlg.h"
#include "model/FeedCatalogue.h"
#include "service/ServiceClient.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;

namespace {

// Stands in for the sign-in dialog: keeps the status line it is told.
class StatusDialog : public QObject, public SignInMessages {
public:
    std::string status;
    void LoginFinished() override {}
    void SetStatusText(const std::string& text) override { status = text; }
    void EnableButtons() override {}
    SignInInput ReadInput() override { return {}; }
    std::optional<std::string> AskCaptcha(const std::string&) override { return std::nullopt; }
};

// The status line of a sign-in whose service fails without a message.
void LoginFailureStatus(std::string& status) {
    StatusDialog dialog;
    SignInServices services;
    services.clientLogin = [](ServiceClient&, std::string_view, std::optional<std::string_view>,
                              std::optional<std::string_view>) { throw 42; };
    ServiceClient client(std::string("ann@example.com"), std::string("secret"));
    std::atomic<bool> done{false};
    // On a worker, as in the program: the text is translated off the UI thread.
    std::thread worker([&] {
        SignInForService(SignInPort(&dialog), client, "writely", services);
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
    worker.join();
    status = dialog.status;
}

int RowOfLabel(const char* label) {
    const std::vector<Category>& table = CategoryTable();
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].label == label) return static_cast<int>(i);
    return -1;
}

}  // namespace

// The texts of the window go through the translation machinery: a test
// translation (tests/shell/translations/tallowdesk_de.ts, built to a .qm)
// reaches the real menus, dialogs, status sentences, tree labels and worker
// messages, and a language without a translation keeps the English texts.
// Test functions run in order: the German translation is installed last.
class TranslationTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        ResetCategoryTable();
    }

    void aLanguageWithoutTranslationKeepsTheEnglishTexts() {
        QVERIFY(!InstallTranslations(*qApp, QLocale(QLocale::French, QLocale::France),
                                     {QStringLiteral(TALLOWDESK_TEST_QM_DIR)}));
        QCOMPARE(StatusText(5, 0), QStringLiteral("5 items"));
        CMainFrame frame(std::make_shared<AppState>());
        QCOMPARE(frame.StatusText(), QStringLiteral("Ready"));
    }

    void theEnglishTranslationIsBuiltIntoTheProgram() {
        QVERIFY(QFile::exists(QStringLiteral(":/i18n/tallowdesk_en.qm")));
        QVERIFY(InstallTranslations(*qApp, QLocale(QLocale::English, QLocale::UnitedStates)));
        // It holds no translations: the texts are the built-in ones.
        QCOMPARE(StatusText(5, 0), QStringLiteral("5 items"));
        std::string status;
        LoginFailureStatus(status);
        QCOMPARE(status, std::string(" Login failed! "));
    }

    void theTranslationReachesTheWindow() {
        QVERIFY(InstallTranslations(*qApp, QLocale(QLocale::German, QLocale::Germany),
                                    {QStringLiteral(TALLOWDESK_TEST_QM_DIR)}));
        CMainFrame frame(std::make_shared<AppState>());
        QCOMPARE(frame.StatusText(), QStringLiteral("Bereit"));
        QCOMPARE(frame.menuBar()->actions().first()->text(), QStringLiteral("&Datei"));
        QAction* refresh = frame.Actions()->refresh;
        QCOMPARE(refresh->text(), QStringLiteral("&Aktualisieren"));
        // The prompt is split after translation: status tip, then tool tip.
        QCOMPARE(refresh->statusTip(), QStringLiteral("Aktuelle Ansicht neu laden"));
        QCOMPARE(refresh->toolTip(), QStringLiteral("Aktualisieren"));
        // Untranslated texts stay English.
        QCOMPARE(frame.Actions()->search->text(), QStringLiteral("S&earch..."));
    }

    void theTranslationReachesDialogsAndSentences() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        CSettingDlg settings(dir.filePath(QStringLiteral("Config.xml")).toStdString());
        QCOMPARE(settings.windowTitle(), QStringLiteral("Einstellungen"));
        QCOMPARE(StatusText(5, 0), QStringLiteral("5 Elemente"));
        QCOMPARE(StatusText(1, 0), QStringLiteral("1 item"));  // not in the test translation
        std::string status;
        LoginFailureStatus(status);
        QCOMPARE(status, std::string(" Anmeldung fehlgeschlagen! "));
    }

    void tableTextsAreTranslatedWhereTheyAreShown() {
        // The context menu's static table.
        ContextMenuState none;
        const std::vector<ContextMenuItem> items = ContextMenuItems(none);
        QVERIFY(!items.empty());
        QCOMPARE(items.front().text, QStringLiteral("&Ordner erstellen"));

        // A category shows its translated label but keeps its own, which
        // navigation compares.
        FolderTreeModel model;
        model.AddCategories(CategoryTable());
        const int trash = RowOfLabel(" Trash");
        QVERIFY(trash >= 0);
        const QModelIndex index = model.index(trash, 0);
        QCOMPARE(index.data().toString(), QStringLiteral(" Papierkorb"));
        QCOMPARE(model.TextOf(model.NodeAt(index)), QStringLiteral(" Trash"));
    }
};

QTEST_MAIN(TranslationTest)
#include "TranslationTest.moc"
