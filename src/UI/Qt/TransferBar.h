#pragma once

#include "FileShare/TransferProgress.h"

#include <string>

class QProgressBar;
class QWidget;

// A file's or a whole transfer's progress on a bar: thousandths of its bytes, red once the file has
// failed. Main thread.
class TransferBar {
public:
    // A thin bar without text, ready for show().
    static QProgressBar* make(QWidget* parent, const char* name);
    static void show(QProgressBar& bar, const TransferProgress::File& file);
    static void showTotal(QProgressBar& bar, const TransferProgress& transfer);
    // "name (size)", "name (size not given)" or "name (failed)".
    static std::string caption(const TransferProgress::File& file);
};
