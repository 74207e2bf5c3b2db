#include "PortRowView.h"

#include "KillButton.h"
#include "PlainButton.h"
#include "TextLabel.h"
#include "ViewStyle.h"
#include "model/DisplayText.h"
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
                         std::function<void()> select, std::function<void()> kill, QWidget *parent,
                         QString rowErrorDetail)
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
    m_nameLabel = new TextLabel(displayText(entry.processName()), nameFont(), TextTone::primary, m_selectButton);
    m_texts->addWidget(m_nameLabel);
    m_texts->addStretch(1);
    topLine->addLayout(m_texts);
    topLine->addSpacerItem(new QSpacerItem(minimumSpacerWidth, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_label->addLayout(topLine);
    m_label->addStretch(1);

    if (entry.hasProcess() || entry.container()) {
        m_killButton = new KillButton(isSelected ? TextTone::red : TextTone::secondary, this);
        m_killButton->setObjectName(QStringLiteral("kill-port-") + port);
        connect(m_killButton, &QAbstractButton::clicked, this, [kill = std::move(kill)] { kill(); });
        row->addWidget(m_killButton, 0, Qt::AlignTop);
    } else {
        // Another user's listener: only root can stop it, after the user authenticates.
        m_adminStopButton = new PlainButton(this);
        m_adminStopButton->setObjectName(QStringLiteral("admin-stop-port-") + port);
        // As tall as the kill button's frame, so that Heights holds for these rows too.
        m_adminStopButton->setFixedHeight(killFrameSize);
        auto *text = new QHBoxLayout(m_adminStopButton);
        text->setContentsMargins(0, 0, 0, 0);
        text->addWidget(
            new TextLabel(tr("Stop as administrator..."), errorFont(), TextTone::secondary, m_adminStopButton), 0,
            Qt::AlignVCenter);
        connect(m_adminStopButton, &QAbstractButton::clicked, this, [kill = std::move(kill)] { kill(); });
        row->addWidget(m_adminStopButton, 0, Qt::AlignTop);
    }

    setDetailLine();
    setRowError(rowError, rowErrorDetail);
    setAccessibleNames();
}

PortRowView::~PortRowView() = default;

void PortRowView::setInputs(const PortEntry &entry, bool isSelected, std::optional<RowError> rowError,
                            const QString &rowErrorDetail) {
    // Exact comparisons: the texts are shown as they are, only escaped.
    const bool renamed = entry.processName() != m_entry.processName() || entry.container() != m_entry.container();
    const bool described = entry.commandLine() != m_entry.commandLine() || entry.ownerName() != m_entry.ownerName();
    const bool moved = entry.workingDirectory() != m_entry.workingDirectory() ||
                       entry.workingDirectoryDeleted() != m_entry.workingDirectoryDeleted() ||
                       entry.container() != m_entry.container();
    m_entry = entry;
    if (renamed)
        m_nameLabel->setText(displayText(entry.processName()));
    if (renamed || described)
        setAccessibleNames();
    if (moved)
        setDetailLine();
    const bool errorChanged = rowError != m_rowError || rowErrorDetail != m_rowErrorDetail;
    if (isSelected != m_isSelected) {
        m_isSelected = isSelected;
        if (m_killButton)
            m_killButton->setTone(isSelected ? TextTone::red : TextTone::secondary);
        update();
    }
    setRowError(rowError, rowErrorDetail);
    // The row's spoken name joins the port, name, folder and error.
    if (renamed || moved || errorChanged) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void PortRowView::setAccessibleNames() {
    const QString port = QString::number(m_entry.port());
    const QString name = displayText(m_entry.processName());
    if (m_entry.container()) {
        const QString image = displayText(m_entry.container()->image);
        m_selectButton->setAccessibleName(tr("Port %1, container %2 of image %3").arg(port, name, image));
        if (m_killButton)
            m_killButton->setAccessibleName(tr("Stop container %1 on port %2").arg(name, port));
        return;
    }
    if (!m_entry.hasProcess()) {
        const QString owner = displayText(m_entry.ownerName());
        m_selectButton->setAccessibleName(tr("Port %1, owned by %2, another user").arg(port, owner));
        const QString about = tr("Listener of %1 (uid %2), another user. Its process cannot be seen from this account; "
                                 "stopping it needs an administrator.")
                                  .arg(owner)
                                  .arg(m_entry.id().ownerUid);
        m_selectButton->setToolTip(about);
        m_selectButton->setAccessibleDescription(about);
        if (m_adminStopButton)
            m_adminStopButton->setAccessibleName(tr("Stop the listener on port %1 as administrator").arg(port));
        return;
    }
    m_selectButton->setAccessibleName(tr("Port %1, %2").arg(port, name));
    // The full command line tells apart the many servers that share one name ("node", "python3").
    const QString commandLine = m_entry.commandLine() ? displayText(*m_entry.commandLine()) : QString();
    m_selectButton->setToolTip(commandLine);
    m_selectButton->setAccessibleDescription(commandLine);
    // The port keeps the names apart when one program listens on several ports.
    if (m_killButton)
        m_killButton->setAccessibleName(tr("Kill %1 on port %2").arg(name, port));
}

// Asked for every listed row on each render, so it builds no text: it must agree with secondLine.
bool PortRowView::hasDetailLine(const PortEntry &entry) {
    return entry.container() || !entry.hasProcess() || entry.workingDirectory().has_value();
}

std::optional<QString> PortRowView::secondLine(const PortEntry &entry) {
    if (entry.container())
        return tr("%1 \u00B7 container").arg(displayText(entry.container()->image));
    if (!entry.hasProcess())
        return tr("another user's process");
    return entry.workingDirectory() ? std::optional(displayText(*entry.workingDirectory())) : std::nullopt;
}

// Under the name: the working directory, marked apart when the kernel says it was removed (a
// directory may itself be named "... (deleted)"), or the hint on another user's listener.
void PortRowView::setDetailLine() {
    delete m_detailLine;
    m_detailLine = nullptr;
    if (!hasDetailLine(m_entry))
        return;
    m_detailLine = new QWidget(m_selectButton);
    auto *line = new QHBoxLayout(m_detailLine);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(4);
    if (!m_entry.hasProcess()) {
        line->addWidget(new TextLabel(*secondLine(m_entry), directoryFont(), TextTone::secondary, m_detailLine), 1);
    } else {
        auto *path =
            new TextLabel(displayText(*m_entry.workingDirectory()), directoryFont(), TextTone::secondary, m_detailLine);
        // The end of a path tells most about it.
        path->setElideMode(Qt::ElideLeft);
        line->addWidget(path, 1);
        if (m_entry.workingDirectoryDeleted()) {
            auto *mark = new TextLabel(tr("directory deleted"), directoryFont(), TextTone::primary, m_detailLine);
            mark->setObjectName(QStringLiteral("deleted-directory-") + QString::number(m_entry.port()));
            line->addWidget(mark);
        }
    }
    m_texts->insertWidget(1, m_detailLine);
    m_detailLine->show();
}

// The error line comes and goes with its identifier, so it is built and deleted, not hidden.
void PortRowView::setRowError(std::optional<RowError> rowError, const QString &detail) {
    if (rowError == m_rowError && detail == m_rowErrorDetail)
        return;
    m_rowError = rowError;
    m_rowErrorDetail = detail;
    delete m_errorLabel;
    m_errorLabel = nullptr;
    if (!rowError)
        return;
    m_errorLabel = new TextLabel(errorText(*rowError, detail), errorFont(), TextTone::red, m_selectButton);
    m_errorLabel->setObjectName(QStringLiteral("row-error-") + QString::number(m_entry.port()));
    m_errorLabel->setAccessibleName(m_errorLabel->text());
    m_label->insertWidget(1, m_errorLabel);
    m_errorLabel->show();
}

QString PortRowView::errorText(RowError error, const QString &detail) {
    switch (error) {
    case RowError::permissionDenied:
        return tr("Permission denied");
    case RowError::couldNotKill:
        return detail.isEmpty() ? tr("Could not kill process") : tr("Could not kill process: %1").arg(detail);
    case RowError::notAuthorized:
        return tr("Not authorized");
    case RowError::administratorStopUnavailable:
        return tr("Stopping as administrator is unavailable");
    case RowError::couldNotStopContainer:
        return detail.isEmpty() ? tr("Could not stop container") : tr("Could not stop container: %1").arg(detail);
    case RowError::containerProxy:
        return tr("Forwards a container's port: stop the container instead");
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
