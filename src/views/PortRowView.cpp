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
#include <QPushButton>

#include <algorithm>

namespace quaystone {

namespace {

constexpr int horizontalPadding = 12;
constexpr int verticalPadding = 8;
constexpr int labelSpacing = 4;
constexpr int nameDirectorySpacing = 2;
constexpr int minimumSpacerWidth = 8;

QFont portFont() {
    return popoverMonospacedFont(TextSize::regular, QFont::Medium);
}

QFont nameFont() {
    return popoverFont(TextSize::regular, QFont::Normal);
}

QFont directoryFont() {
    return popoverFont(TextSize::small, QFont::Normal);
}

QFont errorFont() {
    return popoverFont(TextSize::small, QFont::Medium);
}

// A system unit's manager stops it for any user, after polkit asks for an administrator.
bool hasKillButton(const PortEntry &entry) {
    return entry.hasProcess() || entry.container().has_value() ||
           (entry.service() && entry.service()->scope == ServiceScope::system);
}

// The process's or container's name, or the owner of another user's listener, whose process is
// not seen and which has no name of its own (even where its system unit gives it a cross).
const QString &shownName(const PortEntry &entry) {
    return entry.hasProcess() || entry.container() ? entry.processName() : entry.ownerName();
}

// The width of the error line: the row but its padding and kill button.
int errorWidth(int rowWidth, bool killButton) {
    return rowWidth - 2 * horizontalPadding - (killButton ? PortRowView::columnSpacing + KillButton::frameSize() : 0);
}

// The width of another user's name: the error line's but the port and the least gap after it.
int ownerWidth(int rowWidth) {
    return errorWidth(rowWidth, false) - PortRowView::portColumnWidth() - 2 * PortRowView::columnSpacing -
           minimumSpacerWidth;
}

int adminButtonHeight() {
    return QFontMetrics(errorFont()).height() + 8;
}

// A tooltip is rich text whenever Qt::mightBeRichText guesses so, and a command line may hold
// markup (an <img> that loads /dev/zero, a <b> that restyles it): it is always given as escaped
// markup, which renders as the plain text it holds.
QString plainToolTip(const QString &text) {
    if (text.isEmpty())
        return text;
    return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

} // namespace

int PortRowView::portColumnWidth() {
    return scaled(48);
}

PortRowView::Heights::Heights(int rowWidth)
    : m_rowWidth(rowWidth)
    , m_port(QFontMetrics(portFont()).height())
    , m_name(QFontMetrics(nameFont()).height())
    , m_directory(QFontMetrics(directoryFont()).height())
    , m_error(QFontMetrics(errorFont()).height())
    , m_adminButton(adminButtonHeight()) {}

// Mirrors the layouts built below; every text line is exactly its font's height.
int PortRowView::Heights::of(const PortEntry &entry, const std::optional<QString> &errorText) const {
    const bool killButton = hasKillButton(entry);
    const int nameLines =
        killButton ? 1 : TextLabel::lineCount(nameFont(), displayText(shownName(entry)), ownerWidth(m_rowWidth));
    const int errorLines =
        errorText ? TextLabel::lineCount(errorFont(), *errorText, errorWidth(m_rowWidth, killButton)) : 0;
    const int topLine =
        std::max(m_port, nameLines * m_name + (hasDetailLine(entry) ? nameDirectorySpacing + m_directory : 0));
    const int label = topLine + (errorLines > 0 ? labelSpacing + errorLines * m_error : 0);
    if (killButton)
        return std::max(label, KillButton::frameSize()) + 2 * verticalPadding;
    return label + labelSpacing + m_adminButton + 2 * verticalPadding;
}

int PortRowView::Heights::of(bool hasDirectory, bool hasError) const {
    const int topLine = std::max(m_port, m_name + (hasDirectory ? nameDirectorySpacing + m_directory : 0));
    const int label = topLine + (hasError ? labelSpacing + m_error : 0);
    return std::max(label, KillButton::frameSize()) + 2 * verticalPadding;
}

PortRowView::PortRowView(const PortEntry &entry, bool isSelected, std::optional<RowError> rowError,
                         std::function<void()> select, std::function<void()> kill, QWidget *parent,
                         QString rowErrorDetail)
    : QWidget(parent)
    , m_entry(entry)
    , m_isSelected(isSelected)
    , m_select(std::move(select)) {
    const QString port = QString::number(entry.port());
    const bool killButton = hasKillButton(entry);

    // Another user's row puts its stop button under the texts, where the owner has room.
    QBoxLayout *row = killButton ? static_cast<QBoxLayout *>(new QHBoxLayout(this)) : new QVBoxLayout(this);
    row->setContentsMargins(horizontalPadding, verticalPadding, horizontalPadding, verticalPadding);
    row->setSpacing(killButton ? columnSpacing : labelSpacing);

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
    portLabel->setFixedWidth(portColumnWidth());
    topLine->addWidget(portLabel, 0, Qt::AlignTop);

    m_texts = new QVBoxLayout;
    m_texts->setSpacing(nameDirectorySpacing);
    m_nameLabel = new TextLabel(displayText(shownName(entry)), nameFont(), TextTone::primary, m_selectButton);
    m_texts->addWidget(m_nameLabel);
    m_texts->addStretch(1);
    topLine->addLayout(m_texts);
    topLine->addSpacerItem(new QSpacerItem(minimumSpacerWidth, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_label->addLayout(topLine);
    m_label->addStretch(1);

    if (killButton) {
        m_killButton = new KillButton(isSelected ? TextTone::red : TextTone::secondary, this);
        m_killButton->setObjectName(QStringLiteral("kill-port-") + port);
        connect(m_killButton, &QAbstractButton::clicked, this, [kill = std::move(kill)] { kill(); });
        row->addWidget(m_killButton, 0, Qt::AlignTop);
    } else {
        // Another user's listener: only root can stop it, after the user authenticates.
        m_adminStopButton = new QPushButton(tr("Stop as administrator..."), this);
        m_adminStopButton->setObjectName(QStringLiteral("admin-stop-port-") + port);
        m_adminStopButton->setFont(errorFont());
        m_adminStopButton->setFixedHeight(adminButtonHeight());
        // Enter presses it too once Tab has given it the focus.
        m_adminStopButton->setAutoDefault(true);
        connect(m_adminStopButton, &QAbstractButton::clicked, this, [kill = std::move(kill)] { kill(); });
        auto *line = new QHBoxLayout;
        line->addSpacing(portColumnWidth() + columnSpacing);
        line->addWidget(m_adminStopButton);
        line->addStretch(1);
        row->addLayout(line);
    }

    setDetailLine();
    setRowError(rowError, rowErrorDetail);
    setAccessibleNames();
    applySelection();
}

PortRowView::~PortRowView() = default;

void PortRowView::setInputs(const PortEntry &entry, bool isSelected, std::optional<RowError> rowError,
                            const QString &rowErrorDetail) {
    // Exact comparisons: the texts are shown as they are, only escaped.
    const bool renamed = shownName(entry) != shownName(m_entry) || entry.container() != m_entry.container() ||
                         entry.service() != m_entry.service();
    const bool described = entry.commandLine() != m_entry.commandLine() || entry.ownerName() != m_entry.ownerName();
    const bool moved = entry.workingDirectory() != m_entry.workingDirectory() ||
                       entry.workingDirectoryDeleted() != m_entry.workingDirectoryDeleted() ||
                       entry.container() != m_entry.container() || entry.service() != m_entry.service();
    m_entry = entry;
    if (renamed) {
        m_nameLabel->setText(displayText(shownName(entry)));
        wrapTexts();
    }
    if (renamed || described || moved)
        setAccessibleNames();
    if (moved)
        setDetailLine();
    const bool errorChanged = rowError != m_rowError || rowErrorDetail != m_rowErrorDetail;
    if (isSelected != m_isSelected) {
        m_isSelected = isSelected;
        if (m_killButton)
            m_killButton->setTone(isSelected ? TextTone::red : TextTone::secondary);
        applySelection();
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
    const QString name = displayText(shownName(m_entry));
    if (m_entry.container()) {
        const QString image = displayText(m_entry.container()->image);
        m_selectButton->setAccessibleName(tr("Port %1, container %2 of image %3").arg(port, name, image));
        if (m_killButton)
            m_killButton->setAccessibleName(tr("Stop container %1 on port %2").arg(name, port));
        return;
    }
    if (m_entry.service()) {
        // The unit is what a stop acts on, so it leads the description; the command line follows.
        const QString unit = *secondLine(m_entry);
        m_selectButton->setAccessibleName(tr("Port %1, %2, %3").arg(port, name, unit));
        QString about = unit;
        if (m_entry.commandLine())
            about += u'\n' + displayText(*m_entry.commandLine());
        m_selectButton->setToolTip(about);
        m_selectButton->setAccessibleDescription(about);
        if (m_killButton)
            m_killButton->setAccessibleName(tr("Stop %1 on port %2").arg(displayText(m_entry.service()->name), port));
        if (m_adminStopButton)
            m_adminStopButton->setAccessibleName(tr("Stop the listener on port %1 as administrator").arg(port));
        return;
    }
    if (!m_entry.hasProcess()) {
        const QString owner = displayText(m_entry.ownerName());
        m_selectButton->setAccessibleName(tr("Port %1, owned by %2, another user").arg(port, owner));
        const QString about = tr("Listener of %1 (uid %2), another user. Its process cannot be seen from this account; "
                                 "stopping it needs an administrator.")
                                  .arg(owner)
                                  .arg(m_entry.id().ownerUid);
        m_selectButton->setToolTip(plainToolTip(about));
        m_selectButton->setAccessibleDescription(about);
        if (m_adminStopButton)
            m_adminStopButton->setAccessibleName(tr("Stop the listener on port %1 as administrator").arg(port));
        return;
    }
    m_selectButton->setAccessibleName(tr("Port %1, %2").arg(port, name));
    // The full command line tells apart the many servers that share one name ("node", "python3").
    const QString commandLine = m_entry.commandLine() ? displayText(*m_entry.commandLine()) : QString();
    m_selectButton->setToolTip(plainToolTip(toolTipText(m_entry)));
    m_selectButton->setAccessibleDescription(commandLine);
    // The port keeps the names apart when one program listens on several ports.
    if (m_killButton)
        m_killButton->setAccessibleName(tr("Kill %1 on port %2").arg(name, port));
}

// Asked for every listed row on each render, so it builds no text: it must agree with secondLine.
bool PortRowView::hasDetailLine(const PortEntry &entry) {
    return entry.container() || entry.service() || !entry.hasProcess() || entry.workingDirectory().has_value();
}

QString PortRowView::toolTipText(const PortEntry &entry) {
    QStringList lines;
    if (entry.workingDirectory())
        lines.append(displayText(*entry.workingDirectory()));
    if (entry.commandLine())
        lines.append(displayText(*entry.commandLine()));
    return lines.join(QLatin1Char('\n'));
}

std::optional<QString> PortRowView::secondLine(const PortEntry &entry) {
    if (entry.container())
        return tr("%1 \u00B7 container").arg(displayText(entry.container()->image));
    if (entry.service())
        return tr("%1 \u00B7 %2").arg(displayText(entry.service()->name), serviceScopeText(entry.service()->scope));
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
    if (!m_entry.hasProcess() || m_entry.service()) {
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
    wrapTexts();
    m_errorLabel->show();
}

void PortRowView::wrapTexts() {
    // Built before it is placed, a row is first too narrow for any text.
    if (ownerWidth(width()) <= 0)
        return;
    if (m_errorLabel)
        m_errorLabel->wrapAt(errorWidth(width(), m_killButton != nullptr));
    if (m_adminStopButton)
        m_nameLabel->wrapAt(ownerWidth(width()));
}

// A selected row paints on the highlight, and its texts and cross take their tones from it.
void PortRowView::applySelection() {
    if (m_adminStopButton) {
        // Tab reaches the stop button of the selected row only, and leaves it when the row does.
        m_adminStopButton->setFocusPolicy(m_isSelected ? Qt::TabFocus : Qt::NoFocus);
        if (!m_isSelected && m_adminStopButton->hasFocus())
            m_adminStopButton->clearFocus();
    }
    const QWidget *parent = parentWidget();
    setPalette(m_isSelected ? selectedRowPalette(parent ? parent->palette() : palette()) : QPalette());
    update();
}

bool PortRowView::event(QEvent *event) {
    // A theme's new palette makes a new highlight.
    if (event->type() == QEvent::ApplicationPaletteChange && m_isSelected)
        applySelection();
    return QWidget::event(event);
}

void PortRowView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    wrapTexts();
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
    case RowError::couldNotStopService:
        return tr("Could not stop %1").arg(detail);
    case RowError::containerProxy:
        return tr("Forwards a container's port: stop the container instead");
    }
    return tr("Could not kill process");
}

void PortRowView::paintEvent(QPaintEvent *) {
    if (m_isSelected)
        QPainter(this).fillRect(rect(), palette().color(QPalette::Base));
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
