#pragma once

#include <string>

namespace tallowcrest {

class ISocket;

// Where the track list is written while a client's list request runs: a
// private per-user folder (the runtime folder, else the cache folder), never a
// fixed name in a folder that other users can write. Throws std::system_error
// when no such folder can be had.
std::string trackListFilePath();

// Empties TrackListBuffer, scans folder into it and writes it to file,
// replacing any earlier content. The folder gets its trailing separator here.
void WriteTrackList(std::string folder, const std::string& file);

// Sends "START", the file in pieces of 2048 bytes (the last one shorter),
// "END", then holds the thread for 200 ms.
void SendTrackList(const std::string& file, ISocket& winsock);

// A client's list request from the folder check on: WriteTrackList, then
// what SendTrackList would send of the file, then the file is deleted.
// Returns the list's text. Throws when a step fails, and the file is deleted
// on that way out too.
std::string serveTrackList(const std::string& mediaFolder, const std::string& file, ISocket& winsock);

}  // namespace tallowcrest
