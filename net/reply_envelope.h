#pragma once
#include <json/value.h>

// The envelope of a reply to a received message: SESSION "", MODULE and
// OPERATION as given, RESPONSE with ERRORCODE 0 and SERIAL copied from the
// message's PARAMETER/SERIAL with whatever type it had (null when absent).
// Callers add their own RESPONSE members. Pure, any thread; never throws,
// whatever the message holds.
Json::Value BuildReplyEnvelope(const Json::Value& message, const char* szModule, const char* szOperation);
