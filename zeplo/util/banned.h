// Unsafe string calls made into compile errors. Include this LAST in every
// .cpp of the program (after system and project headers, which may use the
// names legitimately). Copies into fixed fields go through snprintf,
// CopyMqName or SetMqField instead, which cannot write past their target.
#ifndef ZEPLO_UTIL_BANNED_H_
#define ZEPLO_UTIL_BANNED_H_

#define BANNED(func) sorry_##func##_is_a_banned_function

#undef strcpy
#define strcpy(x, y) BANNED(strcpy)
#undef strcat
#define strcat(x, y) BANNED(strcat)
#undef strncpy
#define strncpy(x, y, n) BANNED(strncpy)
#undef sprintf
#define sprintf(...) BANNED(sprintf)
#undef vsprintf
#define vsprintf(...) BANNED(vsprintf)
#undef strtok
#define strtok(x, y) BANNED(strtok)

#endif  // ZEPLO_UTIL_BANNED_H_
