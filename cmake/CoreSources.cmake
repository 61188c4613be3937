# The portable core: no <windows.h>, built natively and for Windows alike.
set(UPDATER_CORE_SOURCES
  shell/PathRules.cpp
  shell/FileSearch.cpp
  shell/WorkingFolder.cpp
  services/MessageBoxes.cpp
  services/DataFileOpener.cpp
  services/Registry.cpp
  settings/SettingsFile.cpp
  settings/SectionLists.cpp
  package/ByteReader.cpp
  package/PackageFormat.cpp
  package/Staging.cpp
  package/Extract.cpp
  package/PackageWriter.cpp
  picture/RctFormat.cpp
  picture/RctEncoder.cpp
  picture/RctFile.cpp
)

# The platform layer of each build.
set(UPDATER_POSIX_SOURCES
  services/Platform_posix.cpp
  services/ScriptedBoxes.cpp
  services/Registry_file.cpp
  package/CopyProgress_none.cpp
)
set(UPDATER_WIN32_SOURCES
  services/Platform_win32.cpp
  services/TextCodec_win32.cpp
  services/MessageBoxes_win32.cpp
  services/Registry_win32.cpp
  package/CopyProgress_win32.cpp
  picture/Picture_win32.cpp
)

# Tests of the portable core, run natively and under Wine.
set(UPDATER_CORE_TESTS
  tests/support/PackageBuilder.cpp
  tests/support/TempFolder.cpp
  tests/support/BoxReport.cpp
  tests/support/RegistryStore.cpp
  tests/shell/PathRulesTest.cpp
  tests/shell/FileSearchTest.cpp
  tests/shell/WorkingFolderTest.cpp
  tests/package/ByteReaderTest.cpp
  tests/package/PackageFormatTest.cpp
  tests/package/ExtractTest.cpp
  tests/services/MessageBoxesTest.cpp
  tests/services/DataFileOpenerTest.cpp
  tests/services/RegistryTest.cpp
  tests/settings/SettingsFileTest.cpp
  tests/settings/SectionListsTest.cpp
  tests/picture/RctFormatTest.cpp
  tests/picture/RctEncoderTest.cpp
)
