#include "app/patchhost.h"

#include "app/application.h"
#include "app/form1.h"
#include "platform/text.h"

#include <windows.h>

namespace app {

namespace {
std::wstring Wide(std::u16string_view s) {
    return std::wstring(s.begin(), s.end());
}
} // namespace

bool TopLevelWindowExists(std::u16string_view className, std::u16string_view title) {
    return FindWindowW(Wide(className).c_str(), Wide(title).c_str()) != nullptr;
}

bool IsExistingFile(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(platform::W(path));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void FormPatchHost::AppendLog(const std::u16string& line) {
    form_.State().AppendLog(line);
}

void FormPatchHost::ShowMessage(const std::u16string& text) {
    MessageBoxW(form_.Handle(), platform::W(text), platform::W(ApplicationTitle()), MB_OK);
}

void FormPatchHost::ClearLog() {
    form_.State().ClearLog();
}

void FormPatchHost::HideConsoleCaret() {
    form_.State().HideConsoleCaret();
}

bool FormPatchHost::TopLevelWindowExists(std::u16string_view className, std::u16string_view title) {
    return app::TopLevelWindowExists(className, title);
}

bool FormPatchHost::FileExists(const std::u16string& path) {
    return IsExistingFile(path);
}

bool FormPatchHost::RemoveFile(const std::u16string& path) {
    return DeleteFileW(platform::W(path)) != 0;
}

bool FormPatchHost::ExecuteOpenDialog() {
    return form_.OpenDialog1.Execute(form_.Handle());
}

std::u16string FormPatchHost::OpenDialogFileName() {
    return form_.OpenDialog1.FileName;
}

void FormPatchHost::SetCaption(const std::u16string& caption) {
    SetWindowTextW(form_.Handle(), platform::W(caption));
}

void FormPatchHost::ProcessMessages() {
    form_.ProcessMessages();
}

void FormPatchHost::EndProgram() {
    form_.EndProgram();
}

void FormPatchHost::SetTimerEnabled(bool enabled) {
    form_.SetTimerEnabled(enabled);
}

void FormPatchHost::RepaintWindow() {
    form_.RepaintWindow();
}

} // namespace app
