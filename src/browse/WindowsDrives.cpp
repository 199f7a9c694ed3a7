// The drive letters of Windows, with each drive's kind and volume name.
#include <windows.h>
#include <winnetwk.h>

#include "browse/Drives.h"

namespace corvella::browse {
namespace {

// The name of the network connection a drive letter stands for.
QString ConnectionOf(const std::wstring& letter) {
  DWORD size = MAX_PATH;
  std::wstring remote(size, L'\0');
  DWORD result = WNetGetConnectionW(letter.c_str(), remote.data(), &size);
  if (result == ERROR_MORE_DATA) {
    remote.assign(size, L'\0');
    result = WNetGetConnectionW(letter.c_str(), remote.data(), &size);
  }
  return result == NO_ERROR ? QString::fromWCharArray(remote.c_str()) : QString();
}

QString VolumeNameOf(const std::wstring& root) {
  wchar_t name[MAX_PATH + 1] = {};
  if (!GetVolumeInformationW(root.c_str(), name, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr,
                             0))
    return {};
  return QString::fromWCharArray(name);
}

}  // namespace

QList<Drive> SystemDrives() {
  QList<Drive> drives;
  // A drive without a medium (an empty card reader) must not ask the user
  // to insert one: the system's critical-error boxes are off meanwhile.
  const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const DWORD present = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (!(present & (1u << i))) continue;
    const wchar_t letter = static_cast<wchar_t>(L'A' + i);
    const std::wstring root{letter, L':', L'\\'};
    Drive drive;
    drive.root = QString::fromStdWString(root);
    const UINT type = GetDriveTypeW(root.c_str());
    if (type == DRIVE_REMOVABLE) {
      drive.kind = DriveKind::Removable;  // shown without a volume name
    } else if (type == DRIVE_REMOTE) {
      drive.kind = DriveKind::Network;
      drive.volumeName = ConnectionOf(root.substr(0, 2));
    } else if (type == DRIVE_FIXED || type == DRIVE_CDROM || type == DRIVE_RAMDISK) {
      drive.kind = type == DRIVE_CDROM     ? DriveKind::CdRom
                   : type == DRIVE_RAMDISK ? DriveKind::Ram
                                           : DriveKind::Fixed;
      drive.volumeName = VolumeNameOf(root);
    } else {
      continue;  // a kind the system cannot tell, or no root folder
    }
    drives.append(drive);
  }
  SetErrorMode(previous);
  return drives;
}

QString DriveName(const Drive& drive) {
  return drive.root.left(2).toLower();
}

}  // namespace corvella::browse
