#include "PortRowView.h"

#include "KillButton.h"
#include "PlainButton.h"
#include "TextLabel.h"
#include "ViewStyle.h"
#include "model/PortEntry.h"

#include <QAccessible>
#include <QBoxLayout>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace quaystone {

namespace {

constexpr int horizontalPadding = 12;
constexpr int verticalPadding = 8;
constexpr int labelSpacing = 4;
constexpr int nameDirectorySpacing = 2;
constexpr int minimumSpacerWidth = 8;
constexpr int killFrameSize = 16;

QFont portFont() {
    return popoverMonospacedFont(13, QFont::Medium);
}

QFont nameFont() {
    return popoverFont(13, QFont::Normal);
}

QFont directoryFont() {
    return popoverFont(11, QFont::Normal);
}

QFont errorFont() {
    return popoverFont(11, QFont::Medium);
}

} // namespace

PortRowView::Heights::Heights() {
    // Mirrors the layouts built below; every text line is exactly its font's height.
    const int port = QFontMetrics(portFont()).height();
    const int name = QFontMetrics(nameFont()).height();
    const int directory = QFontMetrics(directoryFont()).height();
    const int error = QFontMetrics(errorFont()).height();
    for (const bool hasDirectory : {false, true}) {
        for (const bool hasError : {false, true}) {
            const int topLine = std::max(port, name + (hasDirectory ? nameDirectorySpacing + directory : 0));
            const int label = topLine + (hasError ? labelSpacing + error : 0);
            m_heights[hasDirectory][hasError] = std::max(label, killFrameSize) + 2 * verticalPadding;
        }
    }
}

PortRowView::PortRowView(const PortEntry &entry, bool isSelected, std::optional<RowError> rowError,
                         std::function<void()> select, std::function<void()> kill, QWidget *parent)
    : QWidget(parent)
    , m_entry(entry)
    , m_isSelected(isSelected)
    , m_select(std::move(select)) {
    const QString port = QString::number(entry.port());

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(horizontalPadding, verticalPadding, horizontalPadding, verticalPadding);
    row->setSpacing(columnSpacing);

    m_selectButton = new PlainButton(this);
    m_selectButton->setObjectName(QStringLiteral("port-row-") + port);
    connect(m_selectButton, &QAbstractButton::clicked, this, [this] { m_select(); });
    row->addWidget(m_selectButton, 1);

    m_label = new QVBoxLayout(m_selectButton);
    m_label->setContentsMargins(0, 0, 0, 0);
    m_label->setSpacing(labelSpacing);

    auto *topLine = new QHBoxLayout;
    topLine->setSpacing(columnSpacing);
    auto *portLabel = new TextLabel(port, portFont(), TextTone::primary, m_selectButton);
    portLabel->setFixedWidth(portColumnWidth);
    topLine->addWidget(portLabel, 0, Qt::AlignTop);

    m_texts = new QVBoxLayout;
    m_texts->setSpacing(nameDirectorySpacing);
    m_nameLabel = new TextLabel(entry.processName(), nameFont(), TextTone::primary, m_selectButton);
    m_texts->addWidget(m_nameLabel);
    m_texts->addStretch(1);
    topLine->addLayout(m_texts);
    topLine->addSpacerItem(new QSpacerItem(minimumSpacerWidth, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_label->addLayout(topLine);
    m_label->addStretch(1);

    m_killButton = new KillButton(isSelected ? TextTone::red : TextTone::secondary, this);
    m_killButton->setObjectName(QStringLiteral("kill-port-") + port);
    connect(m_killButton, &QAbstractButton::clicked, this, [kill = std::move(kill)] { kill(); });
    row->addWidget(m_killButton, 0, Qt::AlignTop);

    setDirectory(entry.workingDirectory());
    setRowError(rowError);
    setAccessibleNames();
}

PortRowView::~PortRowView() = default;

void PortRowView::setInputs(const PortEntry &entry, bool isSelected, std::optional<RowError> rowError) {
    // Exact comparisons: the texts are shown verbatim.
    const bool renamed = entry.processName() != m_entry.processName();
    const bool moved = entry.workingDirectory() != m_entry.workingDirectory();
    m_entry = entry;
    if (renamed) {
        m_nameLabel->setText(entry.processName());
        setAccessibleNames();
    }
    if (moved)
        setDirectory(entry.workingDirectory());
    const bool errorChanged = rowError != m_rowError;
    if (isSelected != m_isSelected) {
        m_isSelected = isSelected;
        m_killButton->setTone(isSelected ? TextTone::red : TextTone::secondary);
        update();
    }
    setRowError(rowError);
    // The row's spoken name joins the port, name, folder and error.
    if (renamed || moved || errorChanged) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void PortRowView::setAccessibleNames() {
    const QString port = QString::number(m_entry.port());
    m_selectButton->setAccessibleName(tr("Port %1, %2").arg(port, m_entry.processName()));
    // The port keeps the names apart when one program listens on several ports.
    m_killButton->setAccessibleName(tr("Kill %1 on port %2").arg(m_entry.processName(), port));
}

void PortRowView::setDirectory(const std::optional<QString> &directory) {
    if (!directory) {
        delete m_directoryLabel;
        m_directoryLabel = nullptr;
    } else if (m_directoryLabel) {
        m_directoryLabel->setText(*directory);
    } else {
        m_directoryLabel = new TextLabel(*directory, directoryFont(), TextTone::secondary, m_selectButton);
        // The end of a path tells most about it.
        m_directoryLabel->setElideMode(Qt::ElideLeft);
        m_texts->insertWidget(1, m_directoryLabel);
        m_directoryLabel->show();
    }
}

// The error line comes and goes with its identifier, so it is built and deleted, not hidden.
void PortRowView::setRowError(std::optional<RowError> rowError) {
    if (rowError == m_rowError)
        return;
    m_rowError = rowError;
    delete m_errorLabel;
    m_errorLabel = nullptr;
    if (!rowError)
        return;
    m_errorLabel = new TextLabel(errorText(*rowError), errorFont(), TextTone::red, m_selectButton);
    m_errorLabel->setObjectName(QStringLiteral("row-error-") + QString::number(m_entry.port()));
    m_errorLabel->setAccessibleName(m_errorLabel->text());
    m_label->insertWidget(1, m_errorLabel);
    m_errorLabel->show();
}

QString PortRowView::errorText(RowError error) {
    switch (error) {
    case RowError::permissionDenied:
        return tr("Permission denied");
    case RowError::couldNotKill:
        return tr("Could not kill process");
    }
    return tr("Could not kill process");
}

void PortRowView::paintEvent(QPaintEvent *) {
    if (m_isSelected)
        QPainter(this).fillRect(rect(), selectionTint(palette()));
}

// The padding around the row's content selects too, so the whole row but its kill button
// answers a click.
void PortRowView::mousePressEvent(QMouseEvent *event) {
    event->setAccepted(event->button() == Qt::LeftButton);
}

void PortRowView::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        m_select();
}

} // namespace quaystone
