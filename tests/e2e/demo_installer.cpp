// The demo installer: shows a small window that says it ran, writes a
// marker file into its current directory, and closes after a few seconds
// (or at once with /quick).
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

const char MARKER_NAME[] = "installer-ran.txt";

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        DrawTextA(dc, "The Polvex demo installer ran.\r\nIt wrote installer-ran.txt.", -1, &client,
                  DT_CENTER | DT_VCENTER | DT_WORDBREAK);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_TIMER:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

void write_marker(const char* command_line)
{
    char directory[MAX_PATH] = "";
    char module[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof directory, directory);
    GetModuleFileNameA(nullptr, module, sizeof module);
    FILE* marker = fopen(MARKER_NAME, "wb");
    if (!marker)
        return;
    fprintf(marker, "program=%s\r\ndirectory=%s\r\narguments=%s\r\n", module, directory,
            command_line);
    fclose(marker);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int show)
{
    write_marker(command_line);
    if (strstr(command_line, "/quick"))
        return 0;
    WNDCLASSA window_class;
    memset(&window_class, 0, sizeof window_class);
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = instance;
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
    window_class.lpszClassName = "PolvexDemoInstaller";
    RegisterClassA(&window_class);
    HWND window = CreateWindowA("PolvexDemoInstaller", "Polvex demo installer",
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                CW_USEDEFAULT, 360, 140, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, show);
    SetTimer(window, 1, 4000, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
