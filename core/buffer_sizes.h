// Fixed buffer sizes of a run. Nothing grows: every buffer is allocated once.
#pragma once
#include <stddef.h>

const size_t URL_BUFFER_SIZE = 22000;
const size_t REPLY_BUFFER_SIZE = 22000;
// The reply block has one byte more than a read may fill, so that a body of
// 22000 bytes or more can still be terminated inside the block.
const size_t REPLY_BLOCK_SIZE = REPLY_BUFFER_SIZE + 1;
const size_t TICKER_WORK_SIZE = 22000;
const size_t DOWNLOAD_URL_SIZE = 2048;
const size_t INSTALLER_NAME_SIZE = 2048;
const size_t STATUS_TEXT_SIZE = 1024;
const size_t TAG_BUFFER_SIZE = 260;
const size_t MODULE_PATH_SIZE = 260;
const size_t SYSTEM_DIR_SIZE = 260;
const size_t CHUNK_SIZE = 4096;
const size_t COMMAND_BUFFER_SIZE = 1040;
const size_t NEW_NAME_SIZE = 1300;

// Longest installer name: a 13-character package prefix, a 3-letter code, ".exe".
const size_t MAX_INSTALLER_NAME = 20;
// The download directory URL must leave room in download_url for the
// installer name and the terminator.
const size_t MAX_DOWNLOAD_DIR_URL = DOWNLOAD_URL_SIZE - 1 - MAX_INSTALLER_NAME;

// A chain of replies follows at most this many redirections.
const int MAX_REDIRECTIONS = 20;
// One request follows at most this many HTTP redirections.
const int MAX_HTTP_REDIRECTIONS = 10;
// A previous installation folder gets at most this many ".old" suffixes.
const int MAX_OLD_SUFFIXES = 25;
