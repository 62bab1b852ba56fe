#include "uikit/QtCopyProgress.h"

#include "platform/Prompt.h"

#include <QCoreApplication>
#include <QProgressDialog>

namespace {
// The dialog counts in steps of this range, so files beyond 2 GiB do not overflow its int.
constexpr int kSteps = 1000;
} // namespace

QtCopyProgress::QtCopyProgress(QWidget* owner) : m_owner(owner) {}

QtCopyProgress::~QtCopyProgress() = default;

void QtCopyProgress::start(std::uint64_t totalBytes)
{
    m_total = totalBytes;
    m_done = 0;
    m_dialog = std::make_unique<QProgressDialog>(QStringLiteral("コピーしています..."),
                                                 QStringLiteral("キャンセル"), 0, kSteps, m_owner);
    m_dialog->setWindowTitle(QStringLiteral("Pavo"));
    m_dialog->setWindowModality(Qt::WindowModal);
    m_dialog->setMinimumDuration(500);
    m_dialog->setValue(0);
}

bool QtCopyProgress::advance(std::uint64_t bytes)
{
    m_done += bytes;
    if (!m_dialog)
        return true;
    const int step =
        m_total == 0 ? kSteps
                     : static_cast<int>(std::min<std::uint64_t>(kSteps, m_done * kSteps / m_total));
    // setValue lets the modal dialog process its events, which is where a cancel arrives.
    m_dialog->setValue(step);
    return !m_dialog->wasCanceled();
}

bool QtCopyProgress::confirmReplace(const std::string& path)
{
    const std::string question = path + "\r\nは既に存在します。置き換えますか？";
    return plat::ask(question, plat::Buttons::YesNo, plat::Icon::Question) == plat::Answer::Yes;
}

void QtCopyProgress::finish()
{
    if (m_dialog) {
        m_dialog->reset();
        m_dialog.reset();
    }
}
