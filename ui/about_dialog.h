#pragma once

#include <QDialog>

// "About Quarvel": the program icon, its name and version, one button.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
