/* The shortest client, as README.md and docs/client-library.md show it (a test holds them to
 * this file): one blocking sign-in through the helper installed beside this program, or on
 * PATH, printing the redirect URL. The exit status is the library's status. */
#include <corvane-tavisk/client.h>
#include <stdio.h>

int main(int argc, char **argv)   /* signin URL REDIRECT_URI */
{
    if (argc != 3)
        return 64;
    tavisk_client *client = tavisk_client_new();
    int status = tavisk_client_start(client, NULL);   /* corvane-tavisk beside us, or on PATH */
    if (status == TAVISK_OK)
        status = tavisk_client_sign_in(client, argv[1], argv[2], "Sign in", NULL, 0);
    if (status == TAVISK_OK)
        printf("%s\n", tavisk_client_redirect_url(client));
    else
        fprintf(stderr, "%s\n", tavisk_client_message(client));
    tavisk_client_free(client);
    return status;
}
