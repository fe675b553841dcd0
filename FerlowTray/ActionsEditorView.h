#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FerlowTray/ShortcutRecorder.h"
#include "FerlowCore/ActionButton.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;

namespace ferlow {

class AppModel;
class SymbolView;

// What a button presses on this desktop, as the desktop writes it
// ("Ctrl+Shift+T"); empty when there is nothing to write; absent when it
// presses nothing here.
using DescribeKeys = std::function<std::optional<std::string>(const ActionKind& kind)>;

// One button of the list: its name, page, what it does, remove, and the
// clash warning with "Keep anyway". Every edit is reported whole through
// onChange.
class ActionRow final : public QWidget {
public:
    ActionRow(const ActionButton& button, std::optional<std::string> conflict,
        const ShortcutRecorder::Translate& translate, DescribeKeys describeKeys, QWidget* parent = nullptr);

    // Shows `button`; a name being typed stays as it is.
    void display(const ActionButton& button, std::optional<std::string> conflict);
    const ActionButton& button() const { return m_button; }

    QLineEdit* titleField() const { return m_title; }
    QComboBox* pagePicker() const { return m_page; }
    ShortcutRecorder* recorder() const { return m_recorder; }
    QCheckBox* keepAnyway() const { return m_keep; }
    QLabel* conflictLabel() const { return m_conflict; }

    std::function<void(const ActionButton&)> onChange;
    std::function<void()> onDelete;

    // What a button does: its shortcut as this desktop writes it, the
    // media key's or gesture's name, the click, the app switcher's chord.
    QString describe(const ActionKind& kind) const;

private:
    void commitTitle();
    void record(ShortcutRecorder::Chord chord);

    ActionButton m_button;
    DescribeKeys m_describeKeys;
    QLineEdit* m_title = nullptr;
    QComboBox* m_page = nullptr;
    ShortcutRecorder* m_recorder = nullptr;
    QLabel* m_kind = nullptr;
    QWidget* m_conflictLine = nullptr;
    SymbolView* m_conflictSymbol = nullptr;
    QLabel* m_conflict = nullptr;
    QCheckBox* m_keep = nullptr;
};

// The "Customize Actions" window's content: the phone's buttons in their
// order, to rename, move between pages, reorder by dragging, remove, add,
// record and restore. Each edit hands the whole new list to the model.
class ActionsEditorView final : public QWidget {
public:
    static const QStringList& pages(); // "Keys", "Edit", "Windows", "Media", "More"

    ActionsEditorView(AppModel& model, ShortcutRecorder::Translate translate, QWidget* parent = nullptr);
    ~ActionsEditorView() override;

    std::vector<ActionRow*> rows() const;
    QMenu* addMenu() const { return m_addMenu; }

    // The model's list with the button of the same id replaced.
    void replace(const ActionButton& button);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void add(ActionButton button);
    void remove(const std::string& id);
    void reorder();
    // Brings the rows in line with the model. Rows are rebuilt only when the
    // order of ids changed, so a name being typed survives other edits.
    void sync();
    void scheduleSync();

    AppModel& m_model;
    ShortcutRecorder::Translate m_translate;
    std::shared_ptr<void> m_observation;
    QListWidget* m_list = nullptr;
    QMenu* m_addMenu = nullptr;
    bool m_syncPending = false;
};

} // namespace ferlow
