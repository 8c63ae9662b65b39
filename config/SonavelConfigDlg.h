#pragma once
// The configuration tool's one window: document folder, addresses, server
// state, Run, Stop, start at log-on and password reset. GUI thread.

#include <QDialog>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class ServerControl;

class CSonavelConfigDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kDialogId = 102;
    static constexpr int kRefreshMs = 8000;

    // toolPath is what the log-on entry starts; by default this executable.
    explicit CSonavelConfigDlg(ServerControl& control, std::string toolPath = std::string());
    ~CSonavelConfigDlg() override;

    // Reads the process list, shows the state; true while the server runs.
    bool refreshStatus();
    bool isRunning() const { return m_bRunning; }

private:
    void createControls();
    void OnInitDialog();
    void OnRunClicked();
    void OnStopClicked();
    void OnDocDirChanged(const QString& text);
    void OnBrowseFolder();
    void OnTimer();
    void OnAutoStartClicked();
    void OnResetPasswordClicked();
    // Blue while the server runs, red otherwise.
    void OnCtlColor();
    // A rectangle in dialog units, scaled by the dialog font as the
    // design's layout assumes.
    QRect dluRect(int x, int y, int width, int height) const;

    ServerControl& m_control;
    std::string m_toolPath;
    bool m_bRunning = false;
    QLineEdit* m_docDirCtrl = nullptr;
    QLabel* m_addressLabel = nullptr;
    QLabel* m_statusLabel = nullptr;
    QPushButton* m_runButton = nullptr;
    QPushButton* m_stopButton = nullptr;
    QCheckBox* m_autoStartCheck = nullptr;
    QPushButton* m_resetPasswordButton = nullptr;
    QTimer* m_timer = nullptr;
    int m_baseX = 6;
    int m_baseY = 13;
};
