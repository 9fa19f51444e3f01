#include "form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <stdexcept>
#include <thread>

#include "folder_browser_qt.h"
#include "gui_thread_window_side.h"
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

void PaintBackground(QWidget& widget, const Colour& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, ToQColor(colour));
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

QPixmap BannerPixmap() {
    const auto bytes = BannerBitmap();
    const QImage image = QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()),
                                          static_cast<int>(bytes.size()), "BMP");
    if (image.isNull()) throw std::runtime_error("The banner bitmap cannot be read");
    return QPixmap::fromImage(image);
}

QLabel* MakeLabel(const ControlDescription& control) {
    auto* label = new QLabel(ToQString(control.caption));
    const Qt::Alignment horizontal =
        control.alignment == TextAlignment::Right ? Qt::AlignRight : Qt::AlignLeft;
    label->setAlignment(horizontal | Qt::AlignTop);
    label->setWordWrap(control.wordWrap);
    return label;
}

QWidget* MakeWidget(const ControlDescription& control) {
    switch (control.kind) {
        case ControlKind::Frame:
            return new QGroupBox(ToQString(control.caption));
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
        ShowMessageBox(owner, error.what(), kMessageOk, "");
    }
}

}  // namespace

Form1::Form1(FileSystem& files, Processes& processes)
    : files_(files), processes_(processes), folderDialog_(std::make_unique<QtFolderDialog>(this)) {
    const FormDescription& form = Form();
    setObjectName(ToQString(form.name));
    setWindowTitle(ToQString(form.title));
    setFixedSize(form.ClientPixels().width, form.ClientPixels().height);
    setFont(ToQFont(form.font));
    PaintBackground(*this, form.background);
    for (const ControlDescription& control : Controls()) MakeControl(control);

    text1_ = qobject_cast<QLineEdit*>(&ControlNamed("Text1"));
    check1_ = qobject_cast<QCheckBox*>(&ControlNamed("Check1"));
    progressBar1_ = qobject_cast<QProgressBar*>(&ControlNamed("ProgressBar1"));

    const auto order = FocusOrder();
    for (std::size_t i = 1; i < order.size(); ++i) {
        setTabOrder(&ControlNamed(order[i - 1]), &ControlNamed(order[i]));
    }
    ControlNamed(InitialFocus()).setFocus();
    qApp->installEventFilter(this);
}

Form1::~Form1() { qApp->removeEventFilter(this); }

void Form1::MakeControl(const ControlDescription& control) {
    QWidget* parent = control.container == kFormName ? this : &ControlNamed(control.container);
    QWidget* widget = MakeWidget(control);
    widget->setParent(parent);
    widget->setObjectName(ToQString(control.name));
    const PixelRect pixels = control.Pixels();
    widget->setGeometry(pixels.left, pixels.top, pixels.width, pixels.height);
    widget->setFont(ToQFont(control.font));
    if (control.background) PaintBackground(*widget, *control.background);
    if (!TakesFocus(control.kind)) widget->setFocusPolicy(Qt::NoFocus);
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        // Each button's click runs the handler named after it, as Command1_Click.
        const QByteArray handler = ToQString(control.name).toLatin1() + "_Click";
        connect(button, &QPushButton::clicked, this,
                [this, handler] { QMetaObject::invokeMethod(this, handler.constData()); });
    }
    controls_.emplace(control.name, widget);
}

QWidget& Form1::ControlNamed(std::string_view name) const {
    const auto found = controls_.find(name);
    if (found == controls_.end()) {
        throw std::out_of_range("Form1 has no control named " + std::string(name));
    }
    return *found->second;
}

void Form1::SetFolderDialog(std::unique_ptr<FolderDialog> dialog) {
    folderDialog_ = std::move(dialog);
}

std::string Form1::PathText() { return text1_->text().toStdString(); }

int Form1::SilentFlag() { return check1_->isChecked() ? 1 : 0; }

void Form1::SetProgressMax(float maximum) { progressBar1_->setMaximum(static_cast<int>(maximum)); }

void Form1::SetProgressValue(float value) {
    progressValue_ = value;
    progressBar1_->setValue(static_cast<int>(value));
    emit ProgressValueSet(value);
}

float Form1::ProgressValue() { return progressValue_; }

int Form1::PointerShape() { return pointerShape_; }

void Form1::SetPointerShape(int shape) {
    if (shape != kPointerDefault && shape != kPointerHourglass) {
        throw std::invalid_argument("Unknown pointer shape " + std::to_string(shape));
    }
    if (pointerShape_ != kPointerDefault) QApplication::restoreOverrideCursor();
    if (shape == kPointerHourglass) QApplication::setOverrideCursor(Qt::WaitCursor);
    pointerShape_ = shape;
}

void Form1::ShowMessage(const std::string& text, int code, const std::string& title) {
    ShowMessageBox(this, text, code, title);
}

// The window is unloaded once the update has returned, so that no call of it is left waiting.
void Form1::CloseWindow() { unloadRequested_ = true; }

void Form1::Command1_Click() {
    if (updating_) return;
    updating_ = true;
    Reported(this, [this] { RunUpdateOnWorker(); });
    updating_ = false;
    if (unloadRequested_) close();
}

void Form1::Command2_Click() { close(); }

void Form1::Command3_Click() {
    Reported(this, [this] {
        text1_->setText(QString::fromStdString(BrowseFromPathBox(*folderDialog_, PathText())));
    });
}

// The update blocks its own thread while it waits for programs; here the window goes on
// painting meanwhile, and takes no input until the update has returned.
void Form1::RunUpdateOnWorker() {
    GuiThreadWindowSide side(*this, *this);
    std::string failure;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            RunUpdate({side, files_, processes_});
        } catch (const std::exception& error) {
            failure = error.what();
        } catch (...) {
            failure = "an unknown failure";
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    if (!failure.empty()) throw std::runtime_error("The update stopped: " + failure);
}

void Form1::closeEvent(QCloseEvent* event) {
    if (updating_) {
        event->ignore();
        return;
    }
    event->accept();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (!updating_ || !IsInput(event->type()) || !watched->isWidgetType()) return false;
    return static_cast<QWidget*>(watched)->window() == this;
}

}  // namespace zelvane::ui
