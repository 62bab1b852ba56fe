#pragma once

#include "app/CopyProgress.h"

#include <memory>

class QProgressDialog;
class QWidget;

// The shell copy's progress display: a modal progress dialog that the user can cancel (which
// fails the copy), and a question before an existing file is replaced.
class QtCopyProgress : public CopyProgress
{
public:
    explicit QtCopyProgress(QWidget* owner);
    ~QtCopyProgress() override;

    void start(std::uint64_t totalBytes) override;
    bool advance(std::uint64_t bytes) override;
    bool confirmReplace(const std::string& path) override;
    void finish() override;

private:
    QWidget* m_owner;
    std::unique_ptr<QProgressDialog> m_dialog;
    std::uint64_t m_total = 0;
    std::uint64_t m_done = 0;
};
