// The program with the command channel of LUMORA_TEST_COMMANDS (see
// TestCommands.h), for the scripts that drive it where no input can be
// sent to its window. Built in the build tree only, never installed.

#include "app/RunLumora.h"
#include "tests/support/app/TestCommands.h"

int main(int argc, char** argv)
{
    return RunLumora(argc, argv, [](CMainFrame* frame) -> std::unique_ptr<QObject> {
        return CTestCommands::FromEnvironment(frame);
    });
}
