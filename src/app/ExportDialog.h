#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QRadioButton;
class QSpinBox;

// Asks where an export goes and how long it is: one pass through the chain of loops (the
// default, its length shown) or a number of measures the user types. Made by the
// ExportController for each export; it only gathers the answers.
class ExportDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMaxMeasures = 999;

    // title: the dialog's caption; filter: the file dialog's name filter ("MIDI files
    // (*.mid)"); path: the file proposed; chainMeasures: the length of one pass.
    ExportDialog(const QString& title, const QString& filter, const QString& path,
                 int chainMeasures, QWidget* parent = nullptr);

    QString path() const;
    int measures() const;

    // Export: a file that is there already is replaced only when the user says so (asked in
    // a box of its own, opened without blocking); No leaves the dialog open.
    void accept() override;

    // For tests and the Browse button alike.
    QLineEdit* pathField() const { return pathField_; }
    QRadioButton* typedLengthChoice() const { return typedLength_; }
    QSpinBox* measureField() const { return measureField_; }

private:
    void browse();
    void updateOkButton();

    QString filter_;
    int chainMeasures_;
    // The last path the user agreed to replace (here or in Browse's own dialog).
    QString confirmedPath_;
    QLineEdit* pathField_ = nullptr;
    QRadioButton* chainLength_ = nullptr;
    QRadioButton* typedLength_ = nullptr;
    QSpinBox* measureField_ = nullptr;
    class QPushButton* okButton_ = nullptr;
};
