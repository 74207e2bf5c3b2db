#include "PortRowView.h"

#include "KillButton.h"
#include "PlainButton.h"
#include "TextLabel.h"
#include "ViewStyle.h"
#include "model/PortEntry.h"

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
    , m_isSelected(isSelected)
    , m_select(std::move(select)) {
    const QString port = QString::number(entry.port());

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(horizontalPadding, verticalPadding, horizontalPadding, verticalPadding);
    row->setSpacing(columnSpacing);

    auto *selectButton = new PlainButton(this);
    selectButton->setObjectName(QStringLiteral("port-row-") + port);
    selectButton->setAccessibleName(tr("Port %1, %2").arg(port, entry.processName()));
    connect(selectButton, &QAbstractButton::clicked, this, [this] { m_select(); });
    row->addWidget(selectButton, 1);

    auto *label = new QVBoxLayout(selectButton);
    label->setContentsMargins(0, 0, 0, 0);
    label->setSpacing(labelSpacing);

    auto *topLine = new QHBoxLayout;
    topLine->setSpacing(columnSpacing);
    auto *portLabel = new TextLabel(port, portFont(), TextTone::primary, selectButton);
    portLabel->setFixedWidth(portColumnWidth);
    topLine->addWidget(portLabel, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(nameDirectorySpacing);
    texts->addWidget(new TextLabel(entry.processName(), nameFont(), TextTone::primary, selectButton));
    if (const std::optional<QString> &directory = entry.workingDirectory()) {
        auto *directoryLabel = new TextLabel(*directory, directoryFont(), TextTone::secondary, selectButton);
        // The end of a path tells most about it.
        directoryLabel->setElideMode(Qt::ElideLeft);
        texts->addWidget(directoryLabel);
    }
    texts->addStretch(1);
    topLine->addLayout(texts);
    topLine->addSpacerItem(new QSpacerItem(minimumSpacerWidth, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    label->addLayout(topLine);

    if (rowError) {
        auto *errorLabel = new TextLabel(errorText(*rowError), errorFont(), TextTone::red, selectButton);
        errorLabel->setObjectName(QStringLiteral("row-error-") + port);
        errorLabel->setAccessibleName(errorLabel->text());
        label->addWidget(errorLabel);
    }
    label->addStretch(1);

    auto *killButton = new KillButton(isSelected ? TextTone::red : TextTone::secondary, this);
    killButton->setObjectName(QStringLiteral("kill-port-") + port);
    // The port keeps the names apart when one program listens on several ports.
    killButton->setAccessibleName(tr("Kill %1 on port %2").arg(entry.processName(), port));
    connect(killButton, &QAbstractButton::clicked, this, [kill = std::move(kill)] { kill(); });
    row->addWidget(killButton, 0, Qt::AlignTop);
}

PortRowView::~PortRowView() = default;

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
