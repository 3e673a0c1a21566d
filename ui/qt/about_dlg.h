#pragma once

#include <QDialog>
#include <QIcon>

class QLabel;
class QPushButton;

// The About box (IDD_ABOUTBOX): the icon, a product line, a year line and "Aceptar".
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(const QIcon& icon, QWidget* parent = nullptr);

  static constexpr const char* kProductLine = "Actualizador 47913 Versi\xF3n 1.0";
  static constexpr const char* kYearLine = "Copyright (C) 2026";
};
