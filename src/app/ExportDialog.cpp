#include "app/ExportDialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

ExportDialog::ExportDialog(const QString& title, const QString& filter, const QString& path,
                           int chainMeasures, QWidget* parent)
    : QDialog(parent), filter_(filter), chainMeasures_(chainMeasures) {
    setWindowTitle(title);
    pathField_ = new QLineEdit(path, this);
    auto* browseButton = new QPushButton(tr("&Browse..."), this);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(pathField_, 1);
    fileRow->addWidget(browseButton);

    chainLength_ =
        new QRadioButton(tr("One pass through the loops from the selected one (%n measure(s))",
                            nullptr, chainMeasures),
                         this);
    typedLength_ = new QRadioButton(tr("&Measures:"), this);
    measureField_ = new QSpinBox(this);
    measureField_->setRange(1, kMaxMeasures);
    measureField_->setValue(chainMeasures);
    measureField_->setEnabled(false);
    chainLength_->setChecked(true);
    auto* typedRow = new QHBoxLayout;
    typedRow->addWidget(typedLength_);
    typedRow->addWidget(measureField_);
    typedRow->addStretch(1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    okButton_ = buttons->button(QDialogButtonBox::Ok);
    okButton_->setText(tr("&Export"));

    // A label made from text alone has no field to lead to, and shows its '&' as it is.
    auto* fileLabel = new QLabel(tr("&File:"), this);
    fileLabel->setBuddy(pathField_);
    auto* form = new QFormLayout;
    form->addRow(fileLabel, fileRow);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(chainLength_);
    layout->addLayout(typedRow);
    layout->addWidget(buttons);

    connect(browseButton, &QPushButton::clicked, this, &ExportDialog::browse);
    connect(typedLength_, &QRadioButton::toggled, measureField_, &QSpinBox::setEnabled);
    connect(pathField_, &QLineEdit::textChanged, this, &ExportDialog::updateOkButton);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    updateOkButton();
}

QString ExportDialog::path() const {
    return pathField_->text().trimmed();
}

int ExportDialog::measures() const {
    return typedLength_->isChecked() ? measureField_->value() : chainMeasures_;
}

void ExportDialog::accept() {
    const QString target = path();
    // A file chosen with Browse was confirmed there already.
    if (target == confirmedPath_ || !QFileInfo::exists(target)) {
        QDialog::accept();
        return;
    }
    // Asked as the save dialog asks, without blocking the window: playback goes on meanwhile.
    auto* question = new QMessageBox(
        QMessageBox::Warning, windowTitle(),
        tr("%1 already exists.\nDo you want to replace it?").arg(QFileInfo(target).fileName()),
        QMessageBox::Yes | QMessageBox::No, this);
    question->setDefaultButton(QMessageBox::No);
    question->setAttribute(Qt::WA_DeleteOnClose);
    connect(question, &QMessageBox::finished, this, [this, target](int answer) {
        if (answer == QMessageBox::Yes && path() == target) {
            confirmedPath_ = target;
            QDialog::accept();
        }
    });
    question->open();
}

void ExportDialog::browse() {
    // The dialog of its own asks before replacing a file.
    const QString chosen = QFileDialog::getSaveFileName(this, windowTitle(), path(), filter_);
    if (!chosen.isEmpty()) {
        pathField_->setText(chosen);
        confirmedPath_ = chosen;
    }
}

void ExportDialog::updateOkButton() {
    okButton_->setEnabled(!path().isEmpty());
}
