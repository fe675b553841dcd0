// The actions editor on a real model: every edit reaches the model (and so
// the file and the phone) as one whole new list.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <gtest/gtest.h>

#include "Ferlow/ActionsEditorView.h"
#include "FerlowInput/ActionStore.h"
#include "tests/Ferlow/TrayFixture.h"

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
    EXPECT_EQ(ActionStore(fixture.folder.path() / "data").load(), fixture.model->actions()); // saved
}

// Both buttons of one shortcut warn, each naming the other; "Keep anyway"
// is remembered while the warning stays in the editor.
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
}

// Opening the editor reads the desktop's shortcuts afresh.
TEST(ActionsEditor, ShowingTheEditorRereadsTheDesktopsShortcuts)
{
    TrayFixture fixture;
    ActionsEditorView editor(*fixture.model, {});
    fixture.shortcuts = {{"Show the overview", 0, 0x100000}}; // ⌘A
    editor.show();
    TrayFixture::settle();
    EXPECT_EQ(fixture.model->systemShortcuts(), fixture.shortcuts);
    EXPECT_EQ(rowOf(editor, "selectall")->conflictLabel()->text(), "Also used by Show the overview");
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

    // A drop moves the row in the list; the model follows.
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

// Every item of Add Button appends one new button on the More page with a
// fresh short id.
TEST(ActionsEditor, AddButtonMenuOffersEveryKind)
{
    TrayFixture fixture;
    auto& model = *fixture.model;
    model.setActions({});
    ActionsEditorView editor(model, {});
    std::vector<QAction*> items;
    const std::function<void(QMenu*)> collect = [&](QMenu* menu) {
        for (auto* action : menu->actions())
            action->menu() ? collect(action->menu()) : items.push_back(action);
    };
    collect(editor.addMenu());
    for (auto* item : items)
        item->trigger();
    TrayFixture::settle();

    const auto& added = model.actions();
    ASSERT_EQ(added.size(), 20u);
    std::set<std::string> ids;
    for (const auto& button : added) {
        EXPECT_EQ(button.group, "More");
        EXPECT_EQ(button.id.size(), 8u);
        EXPECT_EQ(QString::fromStdString(button.id), QString::fromStdString(button.id).toLower());
        ids.insert(button.id);
    }
    EXPECT_EQ(ids.size(), added.size());
    const auto expect = [&](std::size_t index, const std::string& title, const ActionKind& kind) {
        EXPECT_EQ(added[index].title, title);
        EXPECT_EQ(added[index].kind, kind);
    };
    expect(0, "Shortcut", ActionKind::key(0, 0x100000));
    expect(1, "Play/Pause", ActionKind::media(MediaKey::playPause));
    expect(8, "Brightness Down", ActionKind::media(MediaKey::brightnessDown));
    expect(11, "Middle Click", ActionKind::mouse(2));
    expect(13, "App Expos\u00E9", ActionKind::gesture(SystemGesture::appExpose));
    expect(18, "Space to the Right", ActionKind::gesture(SystemGesture::spaceRight));
    expect(19, "App Switcher", ActionKind::appSwitcher());
    EXPECT_EQ(editor.rows().size(), 20u);
}

} // namespace
} // namespace ferlow
