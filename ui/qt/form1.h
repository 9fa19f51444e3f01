#pragma once

#include <QWidget>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "zelvane/engine/update.h"
#include "zelvane/engine/window_side.h"
#include "zelvane/platform/files.h"
#include "zelvane/platform/processes.h"
#include "zelvane/ui/folder_browser.h"
#include "zelvane/ui/form_description.h"
#include "zelvane/ui/logged_update.h"

class QCheckBox;
class QLineEdit;
class QProgressBar;

namespace zelvane::ui {


// The updater's one window, built from the window's description. It is also the window side of
// the update, called on the thread that owns the window.
class Form1 final : public QWidget, public WindowSide {
    Q_OBJECT

  public:
    Form1(FileSystem& files, Processes& processes);
    ~Form1() override;

    QWidget& ControlWidget(ControlId id) const;
    // What each update is run with from now on.
    void UseSettings(UpdateSettings settings);
    // How the last update ended, as the command-line updater tells it; kExitNoAttempt before any.
    int ExitStatus() const { return exitStatus_; }

    std::string PathText() override;
    bool SilentMode() override;
    void SetProgressMax(float maximum) override;
    void SetProgressValue(float value) override;
    float ProgressValue() override;
    PointerShape Pointer() override;
    void SetPointer(PointerShape shape) override;
    void ShowMessage(const std::string& text, MessageKind kind, const std::string& title) override;
    void ShowFailures(const FailureReport& report) override;
    void CloseWindow() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    using ClickHandler = void (Form1::*)();
    static ClickHandler ClickHandlerOf(ControlId button);
    void MakeControl(const ControlDescription& control);
    void LinkForScreenReaders(const ControlDescription& control);
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    bool Updating() const { return worker_.joinable(); }
    void RunUpdateOnWorker();
    void EndUpdate();
    void ExpectWindowThread() const;

    FileSystem& files_;
    int exitStatus_ = kExitNoAttempt;
    Processes& processes_;
    std::unique_ptr<FolderDialog> folderDialog_;
    std::unique_ptr<UpdateSettings> settings_;
    std::map<ControlId, QWidget*> controls_;
    QLineEdit* text1_ = nullptr;
    QCheckBox* check1_ = nullptr;
    QProgressBar* progressBar1_ = nullptr;
    float progressValue_ = 0;
    PointerShape pointer_ = PointerShape::Default;
    std::thread worker_;
    std::exception_ptr updateFailure_;
    int workerStatus_ = kExitNoAttempt;  // the update's, until it has returned
    bool unloadRequested_ = false;
};

}  // namespace zelvane::ui
