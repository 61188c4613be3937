// The updater's version and the names its version resource gives, shared by
// the resource script and the tests that read the resource back.
#pragma once

#define UPDATER_VERSION_NUMBERS 1, 0, 0, 0
#define UPDATER_VERSION_TEXT "1.0.0.0"
#define UPDATER_COMPANY_NAME "VORNEL Engine Project"
#define UPDATER_PRODUCT_NAME "VORNEL ゲームアップデータ"
#define UPDATER_FILE_DESCRIPTION "VORNEL ゲームアップデータ"
#define UPDATER_ORIGINAL_FILE_NAME "updater.exe"
// Japanese (0x0411) text in UTF-16 (code page 1200).
#define UPDATER_VERSION_LANGUAGE 0x0411
#define UPDATER_VERSION_CODE_PAGE 1200
#define UPDATER_VERSION_BLOCK "041104b0"
