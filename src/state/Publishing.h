// What the program and a results server agree on when a results file is published: a publisher
// key is PublisherKeyBytes random bytes, kept and sent as twice as many hexadecimal digits in
// the header "Authorization: Bearer KEY" of the upload.
#pragma once

inline constexpr int PublisherKeyBytes = 32;
inline constexpr const char* PublisherKeyScheme = "Bearer ";
