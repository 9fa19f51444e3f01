// regsvr32-box KIND TEXT: the message box of the Linux registration tool stand-in; KIND is
// "information" or "warning".
#include <QApplication>
#include <QMessageBox>
#include <string_view>

#include "texts.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    QApplication application(argc, argv);
    const bool information = std::string_view(argv[1]) == "information";
    QMessageBox box(information ? QMessageBox::Information : QMessageBox::Warning,
                    QString::fromUtf8(zelvane::tools::text::kRegsvrBoxTitle),
                    QString::fromLocal8Bit(argv[2]));
    box.exec();
    return 0;
}
