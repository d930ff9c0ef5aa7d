// What both programs do first, before they open anything.
#pragma once

namespace vestrel {

// Opens /dev/null on any of standard input, output and error that is
// closed: otherwise the next file opened (the capture socket, the log)
// would take its number, and text meant for the console would be written
// to it (as frames on the network, or into the log). Then ignores SIGPIPE,
// so that a reader going away shows as a write error we can report or act
// on, instead of ending the program silently. False when a descriptor
// could not be filled.
bool prepareStandardStreams();

}  // namespace vestrel
