#include "ui/SimpleSelectDlg.h"

#include "ui/DialogTemplate.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

CSimpleSelectDlg::CSimpleSelectDlg(const QString& caption, const QString& prompt,
                                   const QStringList& entries, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(caption);
    const DialogTemplate t(this);
    t.setFixedSize(293, 150);
    auto* label = t.place(new QLabel(prompt, this), IDC_PROMPT, {4, 4, 275, 20});
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_list = t.place(new QListWidget(this), IDC_LIST, {4, 30, 285, 96});
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_list->setSortingEnabled(false);
    m_list->addItems(entries);
    m_list->setCurrentRow(-1);
    m_list->clearSelection();
    m_ok = t.place(new QPushButton(QStringLiteral("OK"), this), IDC_OK, {188, 132, 50, 14});
    // The template's own caption, kept in every language.
    auto* cancel = t.place(new QPushButton(QStringLiteral("キャンセル"), this), IDC_CANCEL,
                           {239, 132, 50, 14});
    FitTexts(this);
    m_ok->setDefault(true);
    connect(m_list, &QListWidget::itemSelectionChanged, this, &CSimpleSelectDlg::UpdateEnables);
    connect(m_ok, &QPushButton::clicked, this, &CSimpleSelectDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CSimpleSelectDlg::reject);
    UpdateEnables();
}

void CSimpleSelectDlg::UpdateEnables() {
    m_ok->setEnabled(!m_list->selectedItems().isEmpty());
}

void CSimpleSelectDlg::accept() {
    const auto selected = m_list->selectedItems();
    if (selected.isEmpty())
        return;
    m_result = selected.front()->text();
    QDialog::accept();
}
