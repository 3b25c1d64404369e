/* The shortest client: one blocking sign-in through the helper installed beside this program
 * (or on PATH), printing the redirect URL. Usage: signin URL REDIRECT_URI */
#include <corvane-tavisk/client.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s URL REDIRECT_URI\n", argv[0]);
        return 64;
    }
    tavisk_client *client = tavisk_client_new();
    int status = tavisk_client_start(client, NULL);
    if (status == TAVISK_OK)
        status = tavisk_client_sign_in(client, argv[1], argv[2], "Sign in", NULL, 0);
    if (status == TAVISK_OK)
        printf("%s\n", tavisk_client_redirect_url(client));
    else
        fprintf(stderr, "%s: %s\n", tavisk_status_name(status), tavisk_client_message(client));
    tavisk_client_free(client);
    return status;
}
