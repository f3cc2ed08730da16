#include "ui/TextFilesUi.h"

#include "base/Messages.h"
#include "ui/MessageBox.h"
#include "ui/SimpleSelectDlg.h"

#include <QFileDialog>
#include <QStringList>

namespace {

QString Q(std::u16string_view s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

CTextFilesUi::CTextFilesUi(QWidget* window, PropertyViewCalls view)
    : m_window(window), m_view(std::move(view)) {}

bool CTextFilesUi::ShowFileDialog(const FileDialogRequest& request, std::u16string& chosenPath) {
    QFileDialog dialog(m_window, Q(request.title), Q(request.initialFolder),
                       Q(QtNameFilters(request.filter)));
    dialog.setAcceptMode(request.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode((request.options & filedialog::kFileMustExist) ? QFileDialog::ExistingFile
                                                                      : QFileDialog::AnyFile);
    if (!request.defaultExtension.empty())
        dialog.setDefaultSuffix(Q(request.defaultExtension));
    if (!request.open && !(request.options & filedialog::kConfirmOverwrite))
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return false;
    const QString& path = files.front();
    chosenPath.assign(reinterpret_cast<const char16_t*>(path.utf16()),
                      static_cast<size_t>(path.size()));
    return true;
}

bool CTextFilesUi::ChooseFromList(std::u16string_view title, std::u16string_view prompt,
                                  const std::vector<std::u16string>& entries, size_t& chosen) {
    QStringList list;
    for (const std::u16string& e : entries)
        list << Q(e);
    CSimpleSelectDlg dialog(Q(title), Q(prompt), list, m_window);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const qsizetype at = list.indexOf(dialog.Result());
    if (at < 0)
        return false;
    chosen = static_cast<size_t>(at);
    return true;
}

int32_t CTextFilesUi::ShowMessageBox(std::u16string_view text, std::u16string_view caption,
                                     uint32_t style) {
    return RunMessageBox(m_window, caption.empty() ? QStringLiteral("Quillon") : Q(caption),
                         Q(text), style);
}

void CTextFilesUi::SetMainWindowTitle(std::u16string_view title) {
    if (m_window)
        m_window->setWindowTitle(Q(title));
}

bool CTextFilesUi::PropertyViewExists() {
    return m_view.exists && m_view.exists();
}

void CTextFilesUi::EmptyPropertyView() {
    if (m_view.empty)
        m_view.empty();
}

void CTextFilesUi::RebuildPropertyView() {
    if (m_view.rebuild)
        m_view.rebuild();
}
