// The two Select buttons: where their dialogs open, what they offer, and directories of any
// length written back whole.
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "Unit1.h"

#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

class SelectDialogTest : public testing::Test {
protected:
    std::unique_ptr<TForm1> Start(const std::string& ini)
    {
        program.Write("kabinex.ini", ini);
        CurrentDirScope here(program.Path());
        return std::make_unique<TForm1>();
    }

    TempDir program;
    ScriptedDialogs dialogs;
};

TEST_F(SelectDialogTest, AMarkerOpensTheDialogInTheProgramDirectory)
{
    auto form = Start("[path]\nemudir=<no definido!>\nzipdir=<No tiene soporte ZIP!>\n");
    form->MaveOpenButton->click();
    form->ZipOpenButton->click();
    const QString programDir = QString::fromStdString(program.Path());
    EXPECT_EQ(dialogs.openedDirs, QStringList({programDir, programDir}));

    // A real directory opens as it stands.
    dialogs.fileAnswers = {QString::fromStdString(program / "emu/mave")};
    form->MaveOpenButton->click();
    form->MaveOpenButton->click();
    EXPECT_EQ(dialogs.openedDirs.at(3), QString::fromStdString(program / "emu/"));
}

TEST_F(SelectDialogTest, DirectoriesLongerThanTheEditDefaultAreWrittenBackWhole)
{
    const std::string longZips = "/" + std::string(40000, 'z') + "/";
    const std::string longEmu = "/" + std::string(33000, 'e') + "/";
    auto form = Start("[path]\nzipdir=" + longZips + "\n");
    EXPECT_EQ(form->ZipDir->text().size(), qsizetype(longZips.size()));
    dialogs.fileAnswers = {QString::fromStdString(longEmu + "mave")};
    form->MaveOpenButton->click();
    EXPECT_EQ(form->MaveDir->text().toStdString(), longEmu);
    form.reset();
    const std::string ini = ReadAll(program / "kabinex.ini");
    EXPECT_NE(ini.find("emudir=" + longEmu + "\n"), std::string::npos);
    EXPECT_NE(ini.find("zipdir=" + longZips + "\n"), std::string::npos);
}

} // namespace
