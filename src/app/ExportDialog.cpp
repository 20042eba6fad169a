#include "app/ExportDialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
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

    auto* form = new QFormLayout;
    form->addRow(tr("&File:"), fileRow);
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

void ExportDialog::browse() {
    // The dialog of its own asks before replacing a file.
    const QString chosen = QFileDialog::getSaveFileName(this, windowTitle(), path(), filter_);
    if (!chosen.isEmpty()) {
        pathField_->setText(chosen);
    }
}

void ExportDialog::updateOkButton() {
    okButton_->setEnabled(!path().isEmpty());
}
