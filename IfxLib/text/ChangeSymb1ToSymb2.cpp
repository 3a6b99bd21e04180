#include <IfxLib/IfxLib.h>

char* ChangeSymb1ToSymb2(char* str, char symb1, char symb2) {
    if (str == nullptr || symb1 == '\0' || symb1 == symb2) {
        return str;
    }
    for (char* at = str; *at != '\0'; ++at) {
        if (*at == symb1) {
            *at = symb2;
            // A NUL replacement ends the string here: what lies beyond is no longer
            // part of it and stays as it was.
            if (symb2 == '\0') {
                break;
            }
        }
    }
    return str;
}
