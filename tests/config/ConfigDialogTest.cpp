#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>

#include "common/Settings.h"
#include "config/Addresses.h"
#include "config/AutoStart.h"
#include "config/ConfigDatabase.h"
#include "config/ConfigSettings.h"
#include "config/Language.h"
#include "config/LanguageFile.h"
#include "config/ServerControl.h"
#include "config/SonavelConfigDlg.h"
#include "tests/config/FakePrograms.h"
#include "tests/support/TempDir.h"

namespace {

const char* kToolPath = "/opt/sonavel/SonavelConfig";

// Calls handle on the next modal dialog as soon as it is shown; gives up
// with owner.
void onNextModal(QObject* owner, std::function<void(QWidget*)> handle) {
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, [timer, handle] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            handle(modal);
        }
    });
    timer->start(20);
}

void saveScreenshot(QWidget& dialog, const std::string& name) {
    QDir().mkpath(SONAVEL_ARTIFACT_DIR);
    QString path = QString(SONAVEL_ARTIFACT_DIR) + "/" + QString::fromStdString(name);
    EXPECT_TRUE(dialog.grab().save(path)) << path.toStdString();
}

QColor statusColour(QLabel* status) {
    return status->palette().color(QPalette::WindowText);
}

}  // namespace

// One dialog under Qt's offscreen platform, its settings, documents and
// program folder all private to the test.
class ConfigDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "config_dialog_test";
        static char* argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
    }
    // Ended here, before the library's own statics go at exit.
    static void TearDownTestSuite() {
        delete app;
        app = nullptr;
    }
    static inline QApplication* app = nullptr;

    void SetUp() override {
        setenv("XDG_DOCUMENTS_DIR", docs.path().c_str(), 1);
        docFolder = docs.path() + "/Sonavel";
        mkdir(docFolder.c_str(), 0700);
        ASSERT_TRUE(runSqlOnce(databasePath(docFolder),
                               "create table account(userName text, password text, role text, "
                               "groups text, UNIQUE(userName))"));
        fakes.install(program.path());
    }

    void TearDown() override {
        control.killProcessByName(fakes.serverName);
        control.killProcessByName(fakes.nginxName);
        unsetenv("XDG_DOCUMENTS_DIR");
    }

    template <typename T>
    T* control_(CSonavelConfigDlg& dialog, const char* name) {
        T* widget = dialog.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    ScopedConfigHome home;
    TempDir docs;
    TempDir program;
    FakePrograms fakes;
    ServerControl control{program.path(), fakes.serverName, fakes.nginxName};
    std::string docFolder;
};

TEST_F(ConfigDialogTest, ClicksThroughEveryControl) {
    ASSERT_TRUE(loadLanguage(std::string(SONAVEL_LANGUAGE_DIR) + "/SonavelConfig.zh-CN.xml"));
    CSonavelConfigDlg dialog(control, kToolPath);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    auto* docDir = control_<QLineEdit>(dialog, "docDir");
    auto* status = control_<QLabel>(dialog, "status");
    auto* run = control_<QPushButton>(dialog, "run");
    auto* stop = control_<QPushButton>(dialog, "stop");
    auto* autoStart = control_<QCheckBox>(dialog, "autoStart");
    auto* reset = control_<QPushButton>(dialog, "resetPassword");
    auto* timer = dialog.findChild<QTimer*>("refreshTimer");
    ASSERT_TRUE(docDir && status && run && stop && autoStart && reset && timer);

    // Opening: default folder shown and stored, database prepared, state read.
    EXPECT_EQ(dialog.windowTitle(), "配置程序");
    EXPECT_EQ(docDir->text().toStdString(), docFolder);
    EXPECT_EQ(getCurrentUserRegString(kSettingsKey, "DocDir"), docFolder);
    EXPECT_TRUE(runSqlOnce(databasePath(docFolder), "select * from settings"));
    EXPECT_EQ(status->text(), "服务已停止");
    EXPECT_EQ(statusColour(status), QColor(255, 0, 0));
    EXPECT_FALSE(autoStart->isChecked());
    EXPECT_EQ(control_<QLabel>(dialog, "addresses")->text().toStdString(),
              joinAddresses(getLocalAddresses()));
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 8000);

    // Tab stops in the designed order.
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    docDir->setFocus();
    std::vector<QWidget*> order;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(order, (std::vector<QWidget*>{run, stop, autoStart, reset, docDir}));

    // Every keystroke in the folder field is stored.
    docDir->setFocus();
    docDir->end(false);
    QTest::keyClick(docDir, Qt::Key_X);
    EXPECT_EQ(getCurrentUserRegString(kSettingsKey, "DocDir"), docFolder + "x");
    docDir->selectAll();
    QTest::keyClick(docDir, Qt::Key_Backspace);
    EXPECT_EQ(getCurrentUserRegString(kSettingsKey, "DocDir"), "");
    EXPECT_EQ(getDocDir(), docFolder);  // empty means the default folder
    QTest::keyClicks(docDir, "/nowhere");
    EXPECT_EQ(getCurrentUserRegString(kSettingsKey, "DocDir"), "/nowhere");

    // Reset against a folder without a database fails, against the real one succeeds.
    QString message;
    onNextModal(&dialog, [&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            message = box->text();
        }
        modal->close();
    });
    QTest::mouseClick(reset, Qt::LeftButton);
    EXPECT_EQ(message, "密码重置失败");

    // The browse button inside the field picks a folder.
    docDir->setText(QString::fromStdString(docs.path()));
    onNextModal(&dialog, [&](QWidget* modal) {
        auto* chooser = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(chooser, nullptr);
        chooser->setDirectory(QString::fromStdString(docFolder));
        // Closes as if OK was pressed on the shown folder; accept() would
        // first check the folder against a model that fills in the background.
        static_cast<QDialog*>(chooser)->done(QDialog::Accepted);
    });
    docDir->findChild<QAction*>("browseFolder")->trigger();
    EXPECT_EQ(docDir->text().toStdString(), docFolder);
    EXPECT_EQ(getCurrentUserRegString(kSettingsKey, "DocDir"), docFolder);

    message.clear();
    onNextModal(&dialog, [&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            message = box->text();
        }
        modal->close();
    });
    QTest::mouseClick(reset, Qt::LeftButton);
    EXPECT_EQ(message, "密码重置成功");
    EXPECT_TRUE(runSqlOnce(databasePath(docFolder),
                           "select 1 from account where userName='admin' and role='admin' and "
                           "password='0f3d58864d5e607b8809696a25dd9bf1'"));

    // Start at log-on on and off, clicked on the box itself.
    const QPoint indicator(6, autoStart->height() / 2);
    QTest::mouseClick(autoStart, Qt::LeftButton, {}, indicator);
    EXPECT_TRUE(autoStart->isChecked());
    ASSERT_TRUE(autostartEntryExists());
    std::ifstream entry(autostartEntryPath());
    std::string entryText((std::istreambuf_iterator<char>(entry)),
                          std::istreambuf_iterator<char>());
    EXPECT_NE(entryText.find("Exec=\"/opt/sonavel/SonavelConfig\" --start"), std::string::npos);
    QTest::mouseClick(autoStart, Qt::LeftButton, {}, indicator);
    EXPECT_FALSE(autostartEntryExists());

    // Run starts the server from the program folder.
    QTest::mouseClick(run, Qt::LeftButton);
    EXPECT_TRUE(dialog.isRunning());
    EXPECT_EQ(status->text(), "服务正在运行");
    EXPECT_EQ(statusColour(status), QColor(0, 0, 255));
    ASSERT_TRUE(FakePrograms::waitForFile(program.file(fakes.serverName + ".cwd")));
    EXPECT_EQ(FakePrograms::firstLine(program.file(fakes.serverName + ".cwd")), program.path());
    saveScreenshot(dialog, "SonavelConfig-zh-CN.png");

    // Stop asks the web server first, then ends the server.
    pid_t nginx = fakes.startNginx(program.path());
    ASSERT_GT(nginx, 0);
    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_FALSE(dialog.isRunning());
    EXPECT_EQ(status->text(), "服务已停止");
    EXPECT_EQ(statusColour(status), QColor(255, 0, 0));
    EXPECT_TRUE(FakePrograms::waitForFile(program.file("nginx/stop-request")));
    EXPECT_TRUE(control.waitUntilStopped(1000));
}

TEST_F(ConfigDialogTest, OpensInEnglishWithExistingLogOnEntry) {
    ASSERT_TRUE(writeAutostartEntry("anything"));  // content is not compared
    ASSERT_TRUE(loadLanguage(std::string(SONAVEL_LANGUAGE_DIR) + "/SonavelConfig.en-US.xml"));
    CSonavelConfigDlg dialog(control, kToolPath);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    EXPECT_EQ(dialog.windowTitle(), "Configuration");
    EXPECT_TRUE(control_<QCheckBox>(dialog, "autoStart")->isChecked());
    EXPECT_EQ(control_<QCheckBox>(dialog, "autoStart")->text(), "Start at log-on");
    EXPECT_EQ(control_<QPushButton>(dialog, "run")->text(), "Run");
    EXPECT_EQ(control_<QPushButton>(dialog, "resetPassword")->text(), "Reset");
    EXPECT_EQ(control_<QLabel>(dialog, "status")->text(), "The service has stopped");
    QStringList groups;
    for (auto* group : dialog.findChildren<QGroupBox*>()) {
        groups << group->title();
    }
    EXPECT_EQ(groups, (QStringList{"Settings", "Server"}));
    saveScreenshot(dialog, "SonavelConfig-en-US.png");
    loadedLanguage().clear();
}
