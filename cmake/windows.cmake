# Windows build settings (filled in with the Windows build).
