#pragma once
#include <json/value.h>

#include <cstdint>

// ERRORCODE of the reply to a media request the device cannot serve.
constexpr int32_t MEDIA_REPLY_FAILED = 1;

// Payload bytes a download announces in its reply and sends before it ends.
constexpr int32_t DOWNLOAD_FILE_SIZE = 30000000;

// Copies the request's PARAMETER/STREAMNAME into out (STREAM_NAME_SIZE bytes).
// False, leaving out untouched, when it is not a string, holds a NUL or is
// longer than the 39 characters a slot keeps: such a request is refused
// rather than served under a different name. Pure, any thread.
bool ReadStreamName(const Json::Value& request, char* out);

// The reply to a media request: MODULE "MEDIASTREAMMODEL", OPERATION op,
// RESPONSE with ERRORCODE 0, SERIAL copied from PARAMETER/SERIAL (null when
// absent) and STREAMNAME; "SESSION" "" only when bSession is set;
// RESPONSE/FILESIZE only when nFileSize is above 0. Pure, any thread.
Json::Value BuildMediaReply(const Json::Value& request, const char* op, const char* szStreamName, bool bSession,
                            int32_t nFileSize);

// The CREATESTREAM message a device sends on a media connection once it is up.
Json::Value BuildCreateStream(const char* szStreamName);
