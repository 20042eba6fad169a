#include "app/NoteBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

namespace {

std::function<void(const std::string&)>& handler() {
    static std::function<void(const std::string&)> current;
    return current;
}

QPointer<QWidget>& owner() {
    static QPointer<QWidget> current;
    return current;
}

}  // namespace

namespace NoteBox {

void show(const std::string& text) {
    if (handler()) {
        handler()(text);
        return;
    }
    QWidget* parent = owner() != nullptr ? owner().data() : QApplication::activeWindow();
    auto* box = new QMessageBox(QMessageBox::NoIcon, kCaption, QString::fromStdString(text),
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

void setOwner(QWidget* window) {
    owner() = window;
}

std::function<void(const std::string&)> setHandler(
    std::function<void(const std::string&)> replacement) {
    std::function<void(const std::string&)> previous = std::move(handler());
    handler() = std::move(replacement);
    return previous;
}

}  // namespace NoteBox
