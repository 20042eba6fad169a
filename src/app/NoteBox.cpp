#include "app/NoteBox.h"

#include <QMessageBox>

namespace {

std::function<void(const std::string&)>& handler() {
    static std::function<void(const std::string&)> current;
    return current;
}

}  // namespace

namespace NoteBox {

void show(const std::string& text) {
    if (handler()) {
        handler()(text);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::NoIcon, kCaption, QString::fromStdString(text),
                                QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

std::function<void(const std::string&)> setHandler(
    std::function<void(const std::string&)> replacement) {
    std::function<void(const std::string&)> previous = std::move(handler());
    handler() = std::move(replacement);
    return previous;
}

}  // namespace NoteBox
