#pragma once

#include <QDialog>
#include <QIcon>

class QLabel;
class QPushButton;

// The About box (IDD_ABOUTBOX, updater::kAboutBox): the icon, a product line, a year line and
// "Aceptar".
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(const QIcon& icon, QWidget* parent = nullptr);
};
