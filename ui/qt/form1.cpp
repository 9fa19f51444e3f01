#include "form1.h"

#include <qdrawutil.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QThread>
#include <algorithm>
#include <stdexcept>
#include <thread>
#include <utility>

#include "folder_browser.h"
#include "window_thread_side.h"
#include "message_box.h"
#include "zelvane/engine/update.h"
#include "zelvane/ui/folder_browser.h"
#include "zelvane/ui/form_description.h"

namespace zelvane::ui {
namespace {

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFont ToQFont(const FontDescription& description) {
    QFont font;
    QStringList families{ToQString(description.family)};
    if (!description.fallbackFamily.empty()) families << ToQString(description.fallbackFamily);
    font.setFamilies(families);
    font.setPointSizeF(description.points);
    font.setWeight(static_cast<QFont::Weight>(description.weight));
    return font;
}

QColor ToQColor(const Colour& colour) { return QColor(colour.red, colour.green, colour.blue); }

// Buttons, check boxes among them, fill themselves with the button colour unless told otherwise.
void PaintBackground(QWidget& widget, const Colour& colour) {
    widget.setBackgroundRole(QPalette::Window);
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, ToQColor(colour));
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

QPixmap BannerPixmap() {
    const auto bytes = BannerBitmap();
    const QImage image = QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()),
                                          static_cast<int>(bytes.size()), "BMP");
    if (image.isNull()) throw std::runtime_error(text::kBannerUnreadable);
    return QPixmap::fromImage(image);
}

QLabel* MakeLabel(const ControlDescription& control) {
    auto* label = new QLabel(ToQString(control.caption));
    const Qt::Alignment horizontal =
        control.alignment == TextAlignment::Right ? Qt::AlignRight : Qt::AlignLeft;
    // A one-line label stands beside a box whose text Qt centres vertically; a wrapped one reads
    // from the top.
    label->setAlignment(horizontal | (control.wordWrap ? Qt::AlignTop : Qt::AlignVCenter));
    label->setWordWrap(control.wordWrap);
    return label;
}

// A frame drawn as Windows draws one: its etched line runs through the middle of the caption and
// the inside shows the frame's background. Qt's own styles put the caption above the line and
// shade the inside.
class Frame final : public QGroupBox {
  public:
    using QGroupBox::QGroupBox;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics = fontMetrics();
        const QRect caption(kCaptionLeft - kCaptionGap, 0,
                            metrics.horizontalAdvance(title()) + 2 * kCaptionGap, metrics.height());
        painter.setClipRegion(QRegion(rect()).subtracted(caption));
        qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(), true);
        painter.setClipping(false);
        style()->drawItemText(&painter, caption, Qt::AlignCenter, palette(), isEnabled(), title(),
                              QPalette::WindowText);
    }

  private:
    static constexpr int kCaptionLeft = 8;
    static constexpr int kCaptionGap = 2;
};

QWidget* MakeWidget(const ControlDescription& control) {
    switch (control.kind) {
        case ControlKind::Frame:
            return new Frame(ToQString(control.caption));
        case ControlKind::Picture: {
            auto* picture = new QLabel;
            picture->setPixmap(BannerPixmap());
            return picture;
        }
        case ControlKind::Label:
            return MakeLabel(control);
        case ControlKind::TextBox:
            return new QLineEdit(ToQString(control.caption));
        case ControlKind::PushButton: {
            auto* button = new QPushButton(ToQString(control.caption));
            // Outside a dialog this makes Enter press the button only while it has the focus.
            button->setAutoDefault(true);
            return button;
        }
        case ControlKind::CheckBox: {
            auto* box = new QCheckBox(ToQString(control.caption));
            box->setChecked(control.initialValue == 1);
            if (control.boxRightOfCaption) box->setLayoutDirection(Qt::RightToLeft);
            return box;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar;
            bar->setTextVisible(false);
            bar->setMinimum(0);
            bar->setValue(0);  // not "reset", which a screen reader would read as -1
            return bar;
        }
    }
    throw std::logic_error("Unknown control kind");
}

bool IsInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;
        default:
            return false;
    }
}

// Runs a click handler's body; a failure is told in a message box instead of reaching Qt.
template <typename Body>
void Reported(QWidget* owner, Body body) {
    try {
        body();
    } catch (const std::exception& error) {
        ShowMessageBox(owner, error.what(), MessageKind::Ok, "");
    } catch (...) {
        ShowMessageBox(owner, kStoppedPrefix + std::string(kUnknownFailure), MessageKind::Ok, "");
    }
}

}  // namespace

Form1::Form1(FileSystem& files, Processes& processes)
    : files_(files), processes_(processes), folderDialog_(std::make_unique<QtFolderDialog>(this)) {
    const FormDescription& form = Form();
    setObjectName(ToQString(form.name));
    setWindowTitle(ToQString(form.title));
    const PixelRect client = form.ClientPixels();
    if (form.resizable) {
        resize(client.width, client.height);
    } else {
        setFixedSize(client.width, client.height);
    }
    setFont(ToQFont(form.font));
    PaintBackground(*this, form.background);
    for (const ControlDescription& control : Controls()) MakeControl(control);
    for (const ControlDescription& control : Controls()) LinkForScreenReaders(control);

    text1_ = qobject_cast<QLineEdit*>(&ControlWidget(ControlId::Text1));
    check1_ = qobject_cast<QCheckBox*>(&ControlWidget(ControlId::Check1));
    progressBar1_ = qobject_cast<QProgressBar*>(&ControlWidget(ControlId::ProgressBar1));

    const auto order = FocusOrder();
    for (std::size_t i = 1; i < order.size(); ++i) {
        setTabOrder(&ControlWidget(order[i - 1]), &ControlWidget(order[i]));
    }
    ControlWidget(InitialFocus()).setFocus();
    qApp->installEventFilter(this);
}

// The window cannot close while an update runs, so the worker has returned or is about to.
Form1::~Form1() {
    qApp->removeEventFilter(this);
    if (worker_.joinable()) worker_.join();
}

void Form1::MakeControl(const ControlDescription& control) {
    QWidget* parent = control.frame ? &ControlWidget(*control.frame) : this;
    QWidget* widget = MakeWidget(control);
    widget->setParent(parent);
    widget->setObjectName(ToQString(control.name));
    const PixelRect pixels = control.Pixels();
    widget->setGeometry(pixels.left, pixels.top, pixels.width, pixels.height);
    widget->setFont(ToQFont(control.font));
    if (control.background) PaintBackground(*widget, *control.background);
    if (!TakesFocus(control.kind)) widget->setFocusPolicy(Qt::NoFocus);
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        connect(button, &QPushButton::clicked, this, ClickHandlerOf(control.id));
    }
    controls_.emplace(control.id, widget);
}

void Form1::LinkForScreenReaders(const ControlDescription& control) {
    QWidget& widget = ControlWidget(control.id);
    if (!control.accessibleName.empty()) widget.setAccessibleName(ToQString(control.accessibleName));
    if (control.labelFor) {
        qobject_cast<QLabel*>(&widget)->setBuddy(&ControlWidget(*control.labelFor));
    }
    if (control.describedBy) {
        widget.setAccessibleDescription(ToQString(ui::Control(*control.describedBy).caption));
    }
}

// Each button's click runs the handler named after it, as Command1_Click.
Form1::ClickHandler Form1::ClickHandlerOf(ControlId button) {
    switch (button) {
        case ControlId::Command1:
            return &Form1::Command1_Click;
        case ControlId::Command2:
            return &Form1::Command2_Click;
        case ControlId::Command3:
            return &Form1::Command3_Click;
        default:
            throw std::logic_error("Form1 has no click handler for " +
                                   std::string(ui::Control(button).name));
    }
}

QWidget& Form1::ControlWidget(ControlId id) const { return *controls_.at(id); }

void Form1::UseSettings(UpdateSettings settings) {
    settings_ = std::make_unique<UpdateSettings>(std::move(settings));
}

// Only the window's own thread may touch it; the update's thread goes through the thread side.
void Form1::ExpectWindowThread() const {
    if (QThread::currentThread() != thread()) {
        throw std::logic_error("Form1 was used from a thread other than the window's");
    }
}

std::string Form1::PathText() {
    ExpectWindowThread();
    return text1_->text().toStdString();
}

bool Form1::SilentMode() {
    ExpectWindowThread();
    return check1_->isChecked();
}

void Form1::SetProgressMax(float maximum) {
    ExpectWindowThread();
    progressBar1_->setMaximum(static_cast<int>(maximum));
}

void Form1::SetProgressValue(float value) {
    ExpectWindowThread();
    progressValue_ = value;
    progressBar1_->setValue(static_cast<int>(value));
}

float Form1::ProgressValue() {
    ExpectWindowThread();
    return progressValue_;
}

PointerShape Form1::Pointer() {
    ExpectWindowThread();
    return pointer_;
}

void Form1::SetPointer(PointerShape shape) {
    ExpectWindowThread();
    if (pointer_ == PointerShape::Hourglass) QApplication::restoreOverrideCursor();
    if (shape == PointerShape::Hourglass) QApplication::setOverrideCursor(Qt::WaitCursor);
    pointer_ = shape;
}

void Form1::ShowMessage(const std::string& text, MessageKind kind, const std::string& title) {
    ExpectWindowThread();
    ShowMessageBox(this, text, kind, title);
}

void Form1::ShowFailures(const FailureReport& report) {
    ExpectWindowThread();
    ShowMessageBox(this, report.text, MessageKind::Ok, "", report.details);
}

// The window is unloaded once the update has returned, so that no call of it is left waiting.
void Form1::CloseWindow() {
    ExpectWindowThread();
    unloadRequested_ = true;
}

// The update runs on a thread of its own, so that the window goes on painting while it copies
// and waits for programs; meanwhile the window takes no input (see eventFilter).
void Form1::Command1_Click() {
    if (!Updating()) worker_ = std::thread([this] { RunUpdateOnWorker(); });
}

void Form1::Command2_Click() { close(); }

void Form1::Command3_Click() {
    Reported(this, [this] {
        text1_->setText(QString::fromStdString(BrowseFromPathBox(*folderDialog_, PathText())));
    });
}

void Form1::RunUpdateOnWorker() {
    try {
        QtWindowThreadSide side(*this, *this);
        workerStatus_ = RunLoggedUpdate(side, files_, processes_, settings_.get());
        side.Finish();
    } catch (...) {
        workerStatus_ = kExitIncomplete;
        updateFailure_ = std::current_exception();
    }
    QMetaObject::invokeMethod(this, [this] { EndUpdate(); }, Qt::QueuedConnection);
}

void Form1::EndUpdate() {
    worker_.join();
    exitStatus_ = workerStatus_;
    if (updateFailure_) {
        Reported(this, [failure = std::exchange(updateFailure_, nullptr)] {
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& error) {
                throw std::runtime_error(kStoppedPrefix + std::string(error.what()));
            }
        });
    }
    if (unloadRequested_) close();
}

void Form1::closeEvent(QCloseEvent* event) {
    if (Updating()) {
        event->ignore();
        return;
    }
    event->accept();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (!Updating() || !IsInput(event->type()) || !watched->isWidgetType()) return false;
    return static_cast<QWidget*>(watched)->window() == this;
}

}  // namespace zelvane::ui
