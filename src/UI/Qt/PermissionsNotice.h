#pragma once

#include <QMainWindow>

// Stands in for the permissions window in a run that cannot cast: tells the user what is missing.
class PermissionsNotice final : public QMainWindow {
    Q_OBJECT
public:
    explicit PermissionsNotice(QWidget* parent = nullptr);
};
