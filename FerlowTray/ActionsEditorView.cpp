#include "FerlowTray/ActionsEditorView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QUuid>
#include <QVBoxLayout>
#include <algorithm>

#include "Ferlow/AppModel.h"
#include "FerlowTray/KeyNames.h"
#include "FerlowTray/ViewStyle.h"
#include "FerlowInput/ActionStore.h"

namespace ferlow {

namespace {

namespace text {
const QString title = QStringLiteral("Actions");
const QString intro = QStringLiteral(
    "Buttons on your phone\u2019s actions sheet, one page each for Keys, Edit, Windows, Media and More. Swipe "
    "sideways on the phone to change page.");
const QString followsFrontApp = QStringLiteral("The first page always follows the app in front on this computer.");
const QString frontAppUnknown = QStringLiteral("The app in front is not known on Wayland.");
const QString name = QStringLiteral("Name");
const QString pageHelp = QStringLiteral("The page this button sits on");
const QString removeHelp = QStringLiteral("Remove this button");
const QString keepAnyway = QStringLiteral("Keep anyway");
const QString thenPick = QStringLiteral(", then pick with the pad");
const QString appSwitcherChord = QStringLiteral("App Switcher"); // when this desktop has none
const QString noShortcut = QStringLiteral("None");
const QString leftClick = QStringLiteral("Left click");
const QString rightClick = QStringLiteral("Right click");
const QString middleClick = QStringLiteral("Middle click");
const QString addButton = QStringLiteral("Add Button");
const QString keyboardShortcut = QStringLiteral("Keyboard Shortcut");
const QString mediaOrSystemKey = QStringLiteral("Media or System Key");
const QString mouseButton = QStringLiteral("Mouse Button");
const QString gesture = QStringLiteral("Gesture");
const QString appSwitcherItem = QStringLiteral("App Switcher");
const QString restoreDefaults = QStringLiteral("Restore Defaults");
const std::string shortcut = "Shortcut";
const std::string more = "More";
const std::string mouseTitles[] = {"Left Click", "Right Click", "Middle Click"};
} // namespace text

constexpr int idRole = Qt::UserRole;

QString qs(const std::string& value) { return QString::fromStdString(value); }

// Names lose the spaces and tabs around them, nothing else.
QString trimmedName(const QString& name)
{
    qsizetype first = 0, last = name.size();
    const auto blank = [](QChar c) { return c == ' ' || c == '\t'; };
    while (first < last && blank(name[first]))
        ++first;
    while (last > first && blank(name[last - 1]))
        --last;
    return name.mid(first, last - first);
}

ActionButton newButton(std::string title, ActionKind kind)
{
    // The first eight characters of a fresh UUID, lower-cased.
    const std::string id = QUuid::createUuid().toString(QUuid::WithoutBraces).left(8).toLower().toStdString();
    return ActionButton {id, std::move(title), std::move(kind), std::nullopt, false, text::more};
}

// Only the height counts; the list gives every row its full width.
QSize rowSize(const QWidget* row) { return {1, row->sizeHint().height()}; }


} // namespace

ActionRow::ActionRow(const ActionButton& button, std::optional<std::string> conflict,
    const ShortcutRecorder::Translate& translate, DescribeKeys describeKeys, QWidget* parent)
    : QWidget(parent), m_button(button), m_describeKeys(std::move(describeKeys))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 6, 8, 6);
    column->setSpacing(4);
    auto* line = new QHBoxLayout;
    line->setSpacing(8);

    // Presses on the grip fall through to the list, which drags the row.
    auto* grip = new QLabel(QStringLiteral("\u2261"), this);
    grip->setToolTip(QStringLiteral("Drag to reorder"));
    grip->setCursor(Qt::OpenHandCursor);
    ViewStyle::setTint(grip, ViewStyle::color(ViewStyle::Tint::tertiary, palette()));
    line->addWidget(grip);

    m_title = new QLineEdit(this);
    m_title->setPlaceholderText(text::name);
    m_title->setFixedWidth(180);
    connect(m_title, &QLineEdit::editingFinished, this, [this] { commitTitle(); });
    line->addWidget(m_title);

    m_page = new QComboBox(this);
    m_page->addItems(ActionsEditorView::pages());
    m_page->setToolTip(text::pageHelp);
    m_page->setAccessibleName(text::pageHelp);
    connect(m_page, &QComboBox::activated, this, [this](int index) {
        ActionButton changed = m_button;
        changed.group = m_page->itemText(index).toStdString();
        if (changed != m_button && onChange)
            onChange(changed);
    });
    line->addWidget(m_page);

    if (button.kind.as<ActionKind::Key>()) {
        m_recorder = new ShortcutRecorder(translate, this);
        m_recorder->onRecord = [this](ShortcutRecorder::Chord chord) { record(chord); };
        line->addWidget(m_recorder);
    } else {
        m_kind = new QLabel(this);
        ViewStyle::setTint(m_kind, ViewStyle::color(ViewStyle::Tint::secondary, palette()));
        line->addWidget(m_kind);
    }
    line->addStretch();

    auto* remove = new QToolButton(this);
    remove->setIcon(ViewStyle::tintedIcon(
        ViewStyle::Symbol::minusCircle, ViewStyle::color(ViewStyle::Tint::secondary, palette())));
    remove->setAutoRaise(true);
    remove->setToolTip(text::removeHelp);
    remove->setAccessibleName(text::removeHelp);
    remove->setObjectName(QStringLiteral("remove"));
    connect(remove, &QToolButton::clicked, this, [this] {
        if (onDelete)
            onDelete();
    });
    line->addWidget(remove);
    column->addLayout(line);

    m_conflictLine = new QWidget(this);
    auto* warning = new QHBoxLayout(m_conflictLine);
    warning->setContentsMargins(24, 0, 0, 0);
    warning->setSpacing(6);
    const QColor orange = ViewStyle::color(ViewStyle::Tint::orange, palette());
    m_conflictSymbol = new SymbolView(ViewStyle::Symbol::exclamationTriangle, 14, m_conflictLine);
    m_conflictSymbol->setSymbol(ViewStyle::Symbol::exclamationTriangle, orange);
    m_conflict = new QLabel(m_conflictLine);
    ViewStyle::setTextStyle(m_conflict, ViewStyle::Text::caption);
    ViewStyle::setTint(m_conflict, orange);
    m_keep = new QCheckBox(text::keepAnyway, m_conflictLine);
    ViewStyle::setTextStyle(m_keep, ViewStyle::Text::caption);
    connect(m_keep, &QCheckBox::toggled, this, [this](bool keep) {
        ActionButton changed = m_button;
        changed.keep = keep;
        if (changed != m_button && onChange)
            onChange(changed);
    });
    warning->addWidget(m_conflictSymbol);
    warning->addWidget(m_conflict);
    warning->addSpacing(8);
    warning->addWidget(m_keep);
    warning->addStretch();
    column->addWidget(m_conflictLine);

    m_title->setText(qs(button.title));
    display(button, std::move(conflict));
}

void ActionRow::display(const ActionButton& button, std::optional<std::string> conflict)
{
    if (!m_title->hasFocus() || m_title->text() == qs(m_button.title))
        m_title->setText(qs(button.title));
    m_button = button;
    const auto page = ActionsEditorView::pages().indexOf(qs(button.group.value_or(text::more)));
    m_page->setCurrentIndex(static_cast<int>(page)); // none shown for a page the picker does not offer
    if (m_recorder)
        m_recorder->setShortcut(describe(button.kind));
    if (m_kind)
        m_kind->setText(describe(button.kind));
    m_conflictLine->setVisible(conflict.has_value());
    m_conflict->setText(qs(conflict.value_or("")));
    const QSignalBlocker quiet(m_keep);
    m_keep->setChecked(button.keep);
}

QString ActionRow::describe(const ActionKind& kind) const
{
    if (const auto* media = kind.as<ActionKind::Media>())
        return qs(KeyNames::name(media->key));
    if (const auto* mouse = kind.as<ActionKind::Mouse>())
        return mouse->button <= 0 ? text::leftClick : mouse->button == 1 ? text::rightClick : text::middleClick;
    if (const auto* gesture = kind.as<ActionKind::Gesture>())
        return qs(KeyNames::name(gesture->gesture));
    // Keys and the switcher read as the chord this desktop really gets.
    const auto chord = m_describeKeys ? m_describeKeys(kind) : std::nullopt;
    if (kind.as<ActionKind::Key>())
        return chord ? qs(*chord) : text::noShortcut;
    return (chord && !chord->empty() ? qs(*chord) : text::appSwitcherChord) + text::thenPick;
}

void ActionRow::commitTitle()
{
    const QString title = trimmedName(m_title->text());
    if (title.isEmpty()) {
        m_title->setText(qs(m_button.title));
        return;
    }
    m_title->setText(title);
    if (title.toStdString() == m_button.title || !onChange)
        return;
    ActionButton changed = m_button;
    changed.title = title.toStdString();
    onChange(changed);
}

void ActionRow::record(ShortcutRecorder::Chord chord)
{
    ActionButton changed = m_button;
    changed.kind = ActionKind::key(chord.code, chord.modifiers);
    changed.keep = false;
    // A title that only spelled out the old shortcut follows the new one; a
    // name the user gave stays. Titles from before shortcuts were written the
    // desktop's way spell them the macOS way (⌘A), and count as spelled out.
    const auto written = [this](const ActionKind& kind) {
        return m_describeKeys ? m_describeKeys(kind) : std::nullopt;
    };
    const auto* old = m_button.kind.as<ActionKind::Key>();
    const bool spelledOut = m_button.title.empty() || written(m_button.kind) == m_button.title
        || (old && KeyNames::describe(old->code, old->modifiers) == m_button.title);
    if (const auto title = written(changed.kind); spelledOut && title && !title->empty())
        changed.title = *title;
    if (onChange)
        onChange(changed);
}

const QStringList& ActionsEditorView::pages()
{
    static const QStringList names {QStringLiteral("Keys"), QStringLiteral("Edit"), QStringLiteral("Windows"),
        QStringLiteral("Media"), QStringLiteral("More")};
    return names;
}

ActionsEditorView::ActionsEditorView(AppModel& model, ShortcutRecorder::Translate translate, QWidget* parent)
    : QWidget(parent), m_model(model), m_translate(std::move(translate))
{
    setMinimumSize(560, 520);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 16);
    column->setSpacing(10);

    auto* title = new QLabel(text::title, this);
    ViewStyle::setTextStyle(title, ViewStyle::Text::title2);
    column->addWidget(title);
    auto* intro = new QLabel(
        text::intro + ' ' + (m_model.frontAppKnown() ? text::followsFrontApp : text::frontAppUnknown), this);
    ViewStyle::setTextStyle(intro, ViewStyle::Text::callout);
    intro->setWordWrap(true);
    column->addWidget(intro);

    m_list = new QListWidget(this);
    m_list->setDragDropMode(QAbstractItemView::InternalMove);
    m_list->setDefaultDropAction(Qt::MoveAction);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Rows are as wide as the list; their fields leave room to spare.
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setResizeMode(QListView::Adjust);
    // The window's colour behind the rows, so their fields stand out.
    m_list->viewport()->setBackgroundRole(QPalette::Window);
    connect(m_list->model(), &QAbstractItemModel::rowsMoved, this, [this] { reorder(); });
    column->addWidget(m_list, 1);

    auto* bottom = new QHBoxLayout;
    auto* addButton = new QToolButton(this);
    addButton->setText(text::addButton);
    addButton->setIcon(
        ViewStyle::tintedIcon(ViewStyle::Symbol::plus, ViewStyle::color(ViewStyle::Tint::text, palette())));
    addButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    addButton->setPopupMode(QToolButton::InstantPopup);
    m_addMenu = new QMenu(addButton);
    addButton->setMenu(m_addMenu);
    bottom->addWidget(addButton);
    bottom->addStretch();
    auto* restore = new QPushButton(text::restoreDefaults, this);
    restore->setObjectName(QStringLiteral("restoreDefaults"));
    connect(restore, &QPushButton::clicked, this, [this] { m_model.setActions(ActionStore::defaults()); });
    bottom->addWidget(restore);
    column->addLayout(bottom);

    // The Add Button menu.
    const auto item = [this](QMenu* menu, const QString& label, std::string name, ActionKind kind) {
        connect(menu->addAction(label), &QAction::triggered, this,
            [this, name = std::move(name), kind] { add(newButton(name, kind)); });
    };
    item(m_addMenu, text::keyboardShortcut, text::shortcut, ActionKind::key(0, KeyNames::command));
    auto* media = m_addMenu->addMenu(text::mediaOrSystemKey);
    for (const auto key : allMediaKeys)
        item(media, qs(KeyNames::name(key)), KeyNames::name(key), ActionKind::media(key));
    auto* mouse = m_addMenu->addMenu(text::mouseButton);
    for (int button = 0; button < 3; ++button)
        item(mouse, qs(text::mouseTitles[button]), text::mouseTitles[button], ActionKind::mouse(button));
    auto* gestures = m_addMenu->addMenu(text::gesture);
    for (const auto gesture : allSystemGestures)
        item(gestures, qs(KeyNames::name(gesture)), KeyNames::name(gesture), ActionKind::gesture(gesture));
    item(m_addMenu, text::appSwitcherItem, text::appSwitcherItem.toStdString(), ActionKind::appSwitcher());

    m_observation = m_model.observe([this](AppModel::Field field) {
        if (field == AppModel::Field::actions || field == AppModel::Field::systemShortcuts)
            scheduleSync();
    });
    sync();
}

ActionsEditorView::~ActionsEditorView() = default;

std::vector<ActionRow*> ActionsEditorView::rows() const
{
    std::vector<ActionRow*> result;
    for (int index = 0; index < m_list->count(); ++index)
        result.push_back(static_cast<ActionRow*>(m_list->itemWidget(m_list->item(index))));
    return result;
}

void ActionsEditorView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Conflicts reflect the desktop's shortcuts as they are now.
    m_model.reloadSystemShortcuts();
    m_model.setActions(m_model.actions());
}

void ActionsEditorView::replace(const ActionButton& button)
{
    auto buttons = m_model.actions();
    for (auto& existing : buttons)
        if (existing.id == button.id)
            existing = button;
    m_model.setActions(std::move(buttons));
}

void ActionsEditorView::add(ActionButton button)
{
    auto buttons = m_model.actions();
    buttons.push_back(std::move(button));
    m_model.setActions(std::move(buttons));
}

void ActionsEditorView::remove(const std::string& id)
{
    auto buttons = m_model.actions();
    std::erase_if(buttons, [&](const ActionButton& button) { return button.id == id; });
    m_model.setActions(std::move(buttons));
}

void ActionsEditorView::reorder()
{
    const auto& current = m_model.actions();
    std::vector<ActionButton> ordered;
    for (int index = 0; index < m_list->count(); ++index) {
        const auto id = m_list->item(index)->data(idRole).toString().toStdString();
        const auto found = std::find_if(current.begin(), current.end(), [&](const auto& b) { return b.id == id; });
        if (found != current.end())
            ordered.push_back(*found);
    }
    if (ordered.size() == current.size() && ordered != current)
        m_model.setActions(std::move(ordered));
}

void ActionsEditorView::scheduleSync()
{
    // Edits arrive from inside a row's own signals; its widgets may only go
    // once those have returned.
    if (m_syncPending)
        return;
    m_syncPending = true;
    QMetaObject::invokeMethod(this, [this] { sync(); }, Qt::QueuedConnection);
}

void ActionsEditorView::sync()
{
    m_syncPending = false;
    const auto& buttons = m_model.actions();
    bool sameOrder = static_cast<std::size_t>(m_list->count()) == buttons.size();
    for (std::size_t index = 0; sameOrder && index < buttons.size(); ++index)
        sameOrder = m_list->item(static_cast<int>(index))->data(idRole).toString() == qs(buttons[index].id);

    if (sameOrder) {
        const auto shown = rows();
        for (std::size_t index = 0; index < buttons.size(); ++index) {
            shown[index]->display(buttons[index], m_model.conflict(buttons[index]));
            m_list->item(static_cast<int>(index))->setSizeHint(rowSize(shown[index]));
        }
        return;
    }

    m_list->clear();
    for (const auto& button : buttons) {
        auto* row = new ActionRow(button, m_model.conflict(button), m_translate,
            [&model = m_model](const ActionKind& kind) { return model.describe(kind); });
        row->onChange = [this](const ActionButton& changed) { replace(changed); };
        row->onDelete = [this, id = button.id] { remove(id); };
        auto* item = new QListWidgetItem(m_list);
        item->setData(idRole, qs(button.id));
        item->setSizeHint(rowSize(row));
        m_list->setItemWidget(item, row);
    }
}

} // namespace ferlow
