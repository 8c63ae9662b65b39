#include "config/SonavelConfigDlg.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <chrono>
#include <thread>

#include "config/Addresses.h"
#include "config/AutoStart.h"
#include "config/ConfigDatabase.h"
#include "config/ConfigSettings.h"
#include "config/DialogLanguage.h"
#include "config/ServerControl.h"

namespace {

constexpr int kDialogWidthDlu = 243;
constexpr int kDialogHeightDlu = 141;

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

CSonavelConfigDlg::CSonavelConfigDlg(ServerControl& control, std::string toolPath)
    : QDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_control(control),
      m_toolPath(toolPath.empty() ? ownExecutablePath() : std::move(toolPath)) {
    setWindowIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    QFont dialogFont = font();
    dialogFont.setPointSize(9);
    setFont(dialogFont);
    QFontMetrics metrics(dialogFont);
    const QString sample = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    m_baseX = (metrics.horizontalAdvance(sample) / 26 + 1) / 2;
    m_baseY = metrics.height();
    createControls();
    OnInitDialog();
}

CSonavelConfigDlg::~CSonavelConfigDlg() = default;

QRect CSonavelConfigDlg::dluRect(int x, int y, int width, int height) const {
    return QRect(x * m_baseX / 4, y * m_baseY / 8, width * m_baseX / 4, height * m_baseY / 8);
}

void CSonavelConfigDlg::createControls() {
    setWindowTitle("配置程序");
    setFixedSize(dluRect(0, 0, kDialogWidthDlu, kDialogHeightDlu).size());

    auto* settingsGroup = new QGroupBox("设置", this);
    settingsGroup->setGeometry(dluRect(7, 7, 229, 66));
    auto* folderLabel = new QLabel("文件存储目录：", this);
    folderLabel->setGeometry(dluRect(25, 21, 54, 8));
    m_docDirCtrl = new QLineEdit(this);
    m_docDirCtrl->setObjectName("docDir");
    m_docDirCtrl->setGeometry(dluRect(78, 19, 148, 14));
    QAction* browse = m_docDirCtrl->addAction(style()->standardIcon(QStyle::SP_DirOpenIcon),
                                              QLineEdit::TrailingPosition);
    browse->setObjectName("browseFolder");
    auto* noteLabel = new QLabel("更改目录需要重新运行服务器程序", this);
    noteLabel->setGeometry(dluRect(25, 34, 206, 8));
    auto* ipLabel = new QLabel("IP：", this);
    ipLabel->setGeometry(dluRect(25, 49, 14, 8));
    m_addressLabel = new QLabel(this);
    m_addressLabel->setObjectName("addresses");
    m_addressLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_addressLabel->setGeometry(dluRect(41, 49, 188, 21));

    auto* serverGroup = new QGroupBox("服务器", this);
    serverGroup->setGeometry(dluRect(7, 82, 229, 52));
    m_statusLabel = new QLabel("正在运行", this);
    m_statusLabel->setObjectName("status");
    m_statusLabel->setGeometry(dluRect(23, 98, 95, 8));
    m_runButton = new QPushButton("运行", this);
    m_runButton->setObjectName("run");
    m_runButton->setGeometry(dluRect(122, 96, 50, 14));
    m_stopButton = new QPushButton("停止", this);
    m_stopButton->setObjectName("stop");
    m_stopButton->setGeometry(dluRect(177, 96, 50, 14));
    m_autoStartCheck = new QCheckBox("开机自启动", this);
    m_autoStartCheck->setObjectName("autoStart");
    m_autoStartCheck->setGeometry(dluRect(23, 115, 111, 10));
    m_resetPasswordButton = new QPushButton("重置密码", this);
    m_resetPasswordButton->setObjectName("resetPassword");
    m_resetPasswordButton->setGeometry(dluRect(177, 114, 50, 14));

    // Buttons of a dialog without OK or Cancel must not react to Enter in the folder field.
    for (QPushButton* button : {m_runButton, m_stopButton, m_resetPasswordButton}) {
        button->setAutoDefault(false);
    }
    setTabOrder(m_docDirCtrl, m_runButton);
    setTabOrder(m_runButton, m_stopButton);
    setTabOrder(m_stopButton, m_autoStartCheck);
    setTabOrder(m_autoStartCheck, m_resetPasswordButton);

    m_timer = new QTimer(this);
    m_timer->setObjectName("refreshTimer");

    connect(m_docDirCtrl, &QLineEdit::textChanged, this, &CSonavelConfigDlg::OnDocDirChanged);
    connect(browse, &QAction::triggered, this, &CSonavelConfigDlg::OnBrowseFolder);
    connect(m_runButton, &QPushButton::clicked, this, &CSonavelConfigDlg::OnRunClicked);
    connect(m_stopButton, &QPushButton::clicked, this, &CSonavelConfigDlg::OnStopClicked);
    connect(m_autoStartCheck, &QCheckBox::clicked, this, &CSonavelConfigDlg::OnAutoStartClicked);
    connect(m_resetPasswordButton, &QPushButton::clicked, this,
            &CSonavelConfigDlg::OnResetPasswordClicked);
    connect(m_timer, &QTimer::timeout, this, &CSonavelConfigDlg::OnTimer);
}

void CSonavelConfigDlg::OnInitDialog() {
    setDialogLanguage(this, kDialogId);
    // Raises the change notification, so the shown folder (the default one
    // when none was stored) is written back at every start of the tool.
    m_docDirCtrl->setText(QString::fromStdString(getDocDir()));
    // Fails harmlessly when the table exists.
    runSqlOnce(databasePath(getDocDir()),
               "create table settings(password text, extra_json_dict text)");
    refreshStatus();
    m_autoStartCheck->setChecked(autostartEntryExists());
    m_addressLabel->setText(QString::fromStdString(joinAddresses(getLocalAddresses())));
    m_timer->start(kRefreshMs);
}

bool CSonavelConfigDlg::refreshStatus() {
    m_bRunning = m_control.isRunning();
    m_statusLabel->setText(::tr(m_bRunning ? "服务正在运行" : "服务已停止"));
    OnCtlColor();
    update();
    return m_bRunning;
}

void CSonavelConfigDlg::OnCtlColor() {
    QPalette palette = m_statusLabel->palette();
    palette.setColor(QPalette::WindowText, m_bRunning ? QColor(0, 0, 255) : QColor(255, 0, 0));
    m_statusLabel->setPalette(palette);
}

void CSonavelConfigDlg::OnRunClicked() {
    m_control.start();
    sleepMs(1000);
    refreshStatus();
}

void CSonavelConfigDlg::OnStopClicked() {
    m_control.stopServerAndNginx();
    m_control.waitUntilStopped(1000);
    refreshStatus();
}

void CSonavelConfigDlg::OnDocDirChanged(const QString& text) {
    setDocDir(text.toStdString());
}

void CSonavelConfigDlg::OnBrowseFolder() {
    QString dir = QFileDialog::getExistingDirectory(this, QString(), m_docDirCtrl->text());
    if (!dir.isEmpty()) {
        m_docDirCtrl->setText(dir);
    }
}

void CSonavelConfigDlg::OnTimer() {
    refreshStatus();
}

void CSonavelConfigDlg::OnAutoStartClicked() {
    if (m_autoStartCheck->isChecked()) {
        writeAutostartEntry(m_toolPath);
    } else {
        removeAutostartEntry();
    }
}

void CSonavelConfigDlg::OnResetPasswordClicked() {
    bool ok = resetAdminPassword(databasePath(getDocDir()));
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(),
                    ::tr(ok ? "密码重置成功" : "密码重置失败"), QMessageBox::Ok, this);
    box.exec();
}
