// The actions editor on a real model: every edit reaches the model (and so
// the file and the phone) as one whole new list.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QKeyEvent>
#include <QToolButton>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "FerlowTray/ActionsEditorView.h"
#include "FerlowInput/ActionStore.h"
#include "FerlowLinux/KeyProfile.h"
#include "tests/FerlowTray/TrayFixture.h"

namespace ferlow {
namespace {

using test::TrayFixture;

ActionRow* rowOf(const ActionsEditorView& editor, const std::string& id)
{
    for (auto* row : editor.rows())
        if (row->button().id == id)
            return row;
    return nullptr;
}

const ActionButton* buttonOf(const AppModel& model, const std::string& id)
{
    for (const auto& button : model.actions())
        if (button.id == id)
            return &button;
    return nullptr;
}

void rename(ActionRow* row, const QString& name)
{
    row->titleField()->setText(name);
    emit row->titleField()->editingFinished();
    TrayFixture::settle();
}

// A key press as X delivers it: keycodes are evdev + 8; the native state
// carries Lock (Caps Lock, 0x2) and Mod2 (Num Lock, 0x10) as well.
void press(QWidget* anywhere, Qt::Key key, std::uint16_t evdev, Qt::KeyboardModifiers modifiers)
{
    QKeyEvent event(QEvent::KeyPress, key, modifiers, evdev + 8u, 0, 0x2 | 0x10);
    QApplication::sendEvent(anywhere, &event);
    TrayFixture::settle();
}

// Ctrl+V is stored as ⌘V, without Caps or Num Lock; a name that only spelled
// out the old shortcut follows the new one. A second click stops recording.
TEST(ActionsEditor, RecordingTakesTheNextKeyThroughTheKeyProfile)
{
    TrayFixture fixture;
    auto& model = *fixture.model;
    auto selectAll = *buttonOf(model, "selectall");
    selectAll.title = "\u2318A";
    model.setActions({*buttonOf(model, "paste"), selectAll});
    ActionsEditorView editor(model, ShortcutRecorder::throughProfile(KeyProfile(KeyProfile::Desktop::gnome)));

    auto* paste = rowOf(editor, "paste")->recorder();
    paste->click();
    EXPECT_EQ(paste->text(), "Press a shortcut\u2026");
    press(paste, Qt::Key_Control, KEY_LEFTCTRL, Qt::ControlModifier); // waits past a lone modifier
    press(paste, Qt::Key_V, KEY_V, Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_EQ(*buttonOf(model, "paste"),
        (ActionButton {"paste", "Paste", ActionKind::key(9, 0x100000), std::nullopt, false, "Edit"}));
    EXPECT_EQ(rowOf(editor, "paste")->recorder()->text(), "Ctrl+V");

    auto* select = rowOf(editor, "selectall")->recorder();
    select->click();
    press(select, Qt::Key_V, KEY_V, Qt::ControlModifier);
    EXPECT_EQ(buttonOf(model, "selectall")->title, "Ctrl+V");
    select = rowOf(editor, "selectall")->recorder();
    select->click();
    press(select, Qt::Key_Z, KEY_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(buttonOf(model, "selectall")->title, "Ctrl+Shift+Z");
    EXPECT_EQ(buttonOf(model, "selectall")->kind, ActionKind::key(6, 0x120000));

    select = rowOf(editor, "selectall")->recorder();
    select->click();
    select->click();
    press(select, Qt::Key_X, KEY_X, Qt::ControlModifier);
    EXPECT_EQ(buttonOf(model, "selectall")->kind, ActionKind::key(6, 0x120000));
    EXPECT_FALSE(select->isRecording());
}

TEST(ActionsEditor, NamesLoseSurroundingBlanksAndNeverBecomeEmpty)
{
    TrayFixture fixture;
    ActionsEditorView editor(*fixture.model, {});
    rename(rowOf(editor, "copy"), QStringLiteral(" \t "));
    EXPECT_EQ(buttonOf(*fixture.model, "copy")->title, "Copy");
    EXPECT_EQ(rowOf(editor, "copy")->titleField()->text(), "Copy");

    rename(rowOf(editor, "copy"), QStringLiteral("  Duplicate\t"));
    EXPECT_EQ(buttonOf(*fixture.model, "copy")->title, "Duplicate");
    EXPECT_EQ(rowOf(editor, "copy")->titleField()->text(), "Duplicate");
    EXPECT_TRUE(fixture.main.runUntil(
        [&] { return ActionStore(fixture.folder.path() / "data").load() == fixture.model->actions(); })); // saved
}

// Both buttons of one shortcut warn, each naming the other, until kept. The
// desktop's own shortcuts are reread on show; a chord it lacks says so.
TEST(ActionsEditor, ClashesShowOnBothButtonsUntilKept)
{
    TrayFixture fixture;
    auto& model = *fixture.model;
    ActionsEditorView editor(model, {});
    auto paste = *buttonOf(model, "paste");
    paste.kind = ActionKind::key(8, 0x100000); // ⌘C, as Copy
    editor.replace(paste);
    TrayFixture::settle();
    EXPECT_EQ(rowOf(editor, "copy")->conflictLabel()->text(), "Same as button \u201CPaste\u201D");
    EXPECT_EQ(rowOf(editor, "paste")->conflictLabel()->text(), "Same as button \u201CCopy\u201D");
    EXPECT_FALSE(rowOf(editor, "cut")->conflictLabel()->isVisibleTo(rowOf(editor, "cut")));

    rowOf(editor, "paste")->keepAnyway()->click();
    TrayFixture::settle();
    EXPECT_TRUE(buttonOf(model, "paste")->keep);
    auto* row = rowOf(editor, "paste");
    EXPECT_TRUE(row->conflictLabel()->isVisibleTo(row));
    EXPECT_TRUE(row->keepAnyway()->isChecked());

    fixture.shortcuts = {{"Show the overview", 0, 0x100000}}; // ⌘A
    editor.show();
    TrayFixture::settle();
    EXPECT_EQ(rowOf(editor, "selectall")->conflictLabel()->text(), "Also used by Show the overview");

    // ⌃⌘D (Look Up) sends nothing on any Linux desktop.
    auto cut = *buttonOf(model, "cut");
    cut.kind = ActionKind::key(2, 0x140000);
    editor.replace(cut);
    TrayFixture::settle();
    EXPECT_EQ(rowOf(editor, "cut")->recorder()->text(), "None");
    EXPECT_EQ(rowOf(editor, "cut")->conflictLabel()->text(), "Not available on this desktop");
    EXPECT_EQ(rowOf(editor, "switcher")->describe(ActionKind::appSwitcher()), "Alt+Tab, then pick with the pad");
}

TEST(ActionsEditor, PagesRemoveReorderAndRestore)
{
    TrayFixture fixture;
    auto& model = *fixture.model;
    ActionsEditorView editor(model, {});

    auto* picker = rowOf(editor, "esc")->pagePicker();
    EXPECT_EQ(picker->currentText(), "Keys");
    picker->setCurrentIndex(4);
    emit picker->activated(4);
    EXPECT_EQ(buttonOf(model, "esc")->group, "More");

    rowOf(editor, "up")->findChild<QToolButton*>(QStringLiteral("remove"))->click();
    TrayFixture::settle();
    EXPECT_FALSE(buttonOf(model, "up"));
    EXPECT_FALSE(rowOf(editor, "up"));

    auto* list = editor.findChild<QListWidget*>();
    ASSERT_TRUE(list->model()->moveRow({}, 0, {}, 3));
    TrayFixture::settle();
    ASSERT_GE(model.actions().size(), 3u);
    EXPECT_EQ(model.actions()[0].id, "delete");
    EXPECT_EQ(model.actions()[2].id, "esc");
    EXPECT_EQ(editor.rows()[2]->button().id, "esc");

    editor.findChild<QPushButton*>(QStringLiteral("restoreDefaults"))->click();
    TrayFixture::settle();
    EXPECT_EQ(model.actions(), ActionStore::defaults());
    EXPECT_EQ(editor.rows().size(), 34u);
}

// Every item of Add Button appends a button on the More page with a fresh short id.
TEST(ActionsEditor, AddButtonMenuOffersEveryKind)
{
    TrayFixture fixture;
    auto& model = *fixture.model;
    model.setActions({});
    ActionsEditorView editor(model, {});
    const std::function<void(QMenu*)> triggerAll = [&](QMenu* menu) {
        for (auto* action : menu->actions())
            action->menu() ? triggerAll(action->menu()) : action->trigger();
    };
    triggerAll(editor.addMenu());
    TrayFixture::settle();

    const auto& added = model.actions();
    ASSERT_EQ(added.size(), 20u);
    std::set<std::string> ids;
    for (const auto& button : added)
        EXPECT_TRUE(button.group == "More" && ids.insert(button.id).second && button.id.size() <= 8) << button.id;
    EXPECT_EQ(editor.rows().size(), 20u);
}

} // namespace
} // namespace ferlow
