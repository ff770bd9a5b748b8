// The settings table against the main window: each option's key, check box and switch belong
// together, and the ZIP field reads one way wherever it is read.
#include "ScriptedDialogs.h"
#include "Settings.h"
#include "TempDir.h"
#include "Unit1.h"

#include <QCheckBox>
#include <QGroupBox>
#include <gtest/gtest.h>

namespace {

TEST(SettingsTest, EachOptionKeyChecksItsOwnBoxAndGivesItsOwnSwitch)
{
    ScriptedDialogs dialogs;
    TempDir program;
    for (const settings::TOption& option : settings::Options) {
        program.Write("kabinex.ini", std::string("[options]\n") + option.key + "=1\n");
        CurrentDirScope here(program.Path());
        TForm1 form;
        const QList<QCheckBox*> boxes = form.GroupOptions->findChildren<QCheckBox*>();
        EXPECT_EQ(boxes.size(), settings::OptionCount) << "every box of the group is in the table";
        for (const QCheckBox* box : boxes)
            EXPECT_EQ(box->isChecked(), box->objectName() == option.checkBox)
                << option.key << ": " << ToStd(box->objectName());
        EXPECT_EQ(form.EmulatorArguments("g"), (std::vector<std::string>{"g", option.emulatorSwitch})) << option.key;
    }
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST(SettingsTest, ZipSupportIsOffOnlyForTheMarker)
{
    const struct {
        QString field;
        std::optional<std::string> zipDir;
    } rows[] = {
        {NoZipMarker, std::nullopt},
        {QStringLiteral("/z/"), "/z/"},
        {QString(), ""}, // the current directory, as the archive's path takes it
        {NoZipMarker + QStringLiteral(" "), "<No tiene soporte ZIP!> "},
        {QStringLiteral("<no tiene soporte zip!>"), "<no tiene soporte zip!>"},
        {QStringLiteral("/zips/año/"), "/zips/año/"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(settings::ZipDirOf(row.field), row.zipDir) << ToStd(row.field);
}

} // namespace
