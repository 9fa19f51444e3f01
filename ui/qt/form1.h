#pragma once

#include <QWidget>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "zelvane/platform/files.h"
#include "zelvane/platform/folder_dialog.h"
#include "zelvane/platform/processes.h"
#include "zelvane/platform/window_side.h"

class QCheckBox;
class QLineEdit;
class QProgressBar;

namespace zelvane::ui {

struct ControlDescription;

// The updater's one window, built from the window's description. It is also the window side of
// the update, called on the thread that owns the window.
class Form1 final : public QWidget, public WindowSide {
    Q_OBJECT

  public:
    Form1(FileSystem& files, Processes& processes);
    ~Form1() override;

    // The control of this name in the description.
    QWidget& ControlNamed(std::string_view name) const;
    void SetFolderDialog(std::unique_ptr<FolderDialog> dialog);

    std::string PathText() override;
    int SilentFlag() override;
    void SetProgressMax(float maximum) override;
    void SetProgressValue(float value) override;
    float ProgressValue() override;
    int PointerShape() override;
    void SetPointerShape(int shape) override;
    void ShowMessage(const std::string& text, int code, const std::string& title) override;
    void CloseWindow() override;

  public slots:
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

  signals:
    // Each value the update gives the progress bar, once the bar shows it.
    void ProgressValueSet(float value);

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void MakeControl(const ControlDescription& control);
    void RunUpdateOnWorker();

    FileSystem& files_;
    Processes& processes_;
    std::unique_ptr<FolderDialog> folderDialog_;
    std::map<std::string_view, QWidget*> controls_;
    QLineEdit* text1_ = nullptr;
    QCheckBox* check1_ = nullptr;
    QProgressBar* progressBar1_ = nullptr;
    float progressValue_ = 0;
    int pointerShape_ = kPointerDefault;
    bool updating_ = false;
    bool unloadRequested_ = false;
};

}  // namespace zelvane::ui
