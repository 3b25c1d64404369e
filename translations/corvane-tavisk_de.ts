<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CertificateChooser</name>
    <message>
        <source>Choose a certificate</source>
        <translation>Zertifikat auswählen</translation>
    </message>
    <message>
        <source>%1 asks for a certificate to identify you. Present the selected one, or continue without a certificate.</source>
        <translation>%1 fragt nach einem Zertifikat, um Sie zu identifizieren. Legen Sie das ausgewählte vor oder fahren Sie ohne Zertifikat fort.</translation>
    </message>
    <message>
        <source>Issued to</source>
        <translation>Ausgestellt für</translation>
    </message>
    <message>
        <source>Issued by</source>
        <translation>Ausgestellt von</translation>
    </message>
    <message>
        <source>Valid</source>
        <translation>Gültig</translation>
    </message>
    <message>
        <source>%1 to %2</source>
        <comment>a certificate&apos;s validity, from one date to another</comment>
        <translation>%1 bis %2</translation>
    </message>
    <message>
        <source>Serial number %1</source>
        <translation>Seriennummer %1</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>Continue without a certificate</source>
        <translation>Ohne Zertifikat fortfahren</translation>
    </message>
    <message>
        <source>That PIN did not open &quot;%1&quot;. Try again, or continue without a certificate.</source>
        <translation>Diese PIN hat „%1“ nicht entsperrt. Versuchen Sie es erneut oder fahren Sie ohne Zertifikat fort.</translation>
    </message>
    <message>
        <source>Enter the PIN or password of &quot;%1&quot;, which holds this certificate&apos;s key.</source>
        <translation>Geben Sie die PIN oder das Passwort für „%1“ ein; dort liegt der Schlüssel dieses Zertifikats.</translation>
    </message>
</context>
<context>
    <name>CredentialsPrompt</name>
    <message>
        <source>The proxy %1 asks for your user name and password.</source>
        <translation>Der Proxy %1 fragt nach Ihrem Benutzernamen und Passwort.</translation>
    </message>
    <message>
        <source>%1 asks for your user name and password.</source>
        <translation>%1 fragt nach Ihrem Benutzernamen und Passwort.</translation>
    </message>
    <message>
        <source>It names itself &quot;%1&quot;.</source>
        <translation>Angegebener Bereich: „%1“.</translation>
    </message>
    <message>
        <source>Proxy authentication required</source>
        <translation>Proxy-Anmeldung erforderlich</translation>
    </message>
    <message>
        <source>Authentication required</source>
        <translation>Anmeldung erforderlich</translation>
    </message>
    <message>
        <source>The last user name and password were refused. Try again.</source>
        <translation>Benutzername und Passwort wurden abgelehnt. Versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>User name</source>
        <translation>Benutzername</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>&amp;User name:</source>
        <translation>&amp;Benutzername:</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>&amp;Passwort:</translation>
    </message>
    <message>
        <source>Sign in</source>
        <translation>Anmelden</translation>
    </message>
</context>
<context>
    <name>LoadFailureView</name>
    <message>
        <source>The connection to %1 is not secure</source>
        <translation>Die Verbindung zu %1 ist nicht sicher</translation>
    </message>
    <message>
        <source>Cannot reach %1 through the proxy</source>
        <translation>%1 ist über den Proxy nicht erreichbar</translation>
    </message>
    <message>
        <source>Cannot reach %1</source>
        <translation>%1 ist nicht erreichbar</translation>
    </message>
    <message>
        <source>The site&apos;s certificate comes from an authority this computer does not trust. If your organisation uses its own certificate authority, your administrator can install it on this computer.</source>
        <translation>Das Zertifikat der Website stammt von einer Zertifizierungsstelle, der dieser Computer nicht vertraut. Wenn Ihre Organisation eine eigene Zertifizierungsstelle verwendet, kann Ihre Administration sie auf diesem Computer installieren.</translation>
    </message>
    <message>
        <source>The site&apos;s certificate has expired or is not valid yet. Check that this computer&apos;s date and time are right.</source>
        <translation>Das Zertifikat der Website ist abgelaufen oder noch nicht gültig. Prüfen Sie, ob Datum und Uhrzeit dieses Computers stimmen.</translation>
    </message>
    <message>
        <source>The site&apos;s certificate was made out for another name.</source>
        <translation>Das Zertifikat der Website wurde für einen anderen Namen ausgestellt.</translation>
    </message>
    <message>
        <source>The site&apos;s certificate is not valid.</source>
        <translation>Das Zertifikat der Website ist ungültig.</translation>
    </message>
    <message>
        <source>The proxy server refused the connection or could not be reached, or its sign-in was cancelled. Check the proxy settings, or ask your administrator.</source>
        <translation>Der Proxyserver hat die Verbindung abgelehnt oder war nicht erreichbar, oder die Anmeldung am Proxy wurde abgebrochen. Prüfen Sie die Proxy-Einstellungen oder fragen Sie Ihre Administration.</translation>
    </message>
    <message>
        <source>The server&apos;s name could not be found. Check the network connection.</source>
        <translation>Der Name des Servers wurde nicht gefunden. Prüfen Sie die Netzwerkverbindung.</translation>
    </message>
    <message>
        <source>The server refused the connection.</source>
        <translation>Der Server hat die Verbindung abgelehnt.</translation>
    </message>
    <message>
        <source>The server did not answer in time.</source>
        <translation>Der Server hat nicht rechtzeitig geantwortet.</translation>
    </message>
    <message>
        <source>This computer cannot reach the server. Check the network connection.</source>
        <translation>Dieser Computer kann den Server nicht erreichen. Prüfen Sie die Netzwerkverbindung.</translation>
    </message>
    <message>
        <source>A secure connection to the server could not be made.</source>
        <translation>Es konnte keine sichere Verbindung zum Server hergestellt werden.</translation>
    </message>
    <message>
        <source>The connection to the server failed.</source>
        <translation>Die Verbindung zum Server ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Error for your administrator: %1</source>
        <translation>Fehler für Ihre Administration: %1</translation>
    </message>
</context>
<context>
    <name>LoadingView</name>
    <message>
        <source>Loading</source>
        <translation>Wird geladen</translation>
    </message>
    <message>
        <source>Connecting to %1…</source>
        <translation>Verbindung zu %1 wird hergestellt…</translation>
    </message>
</context>
<context>
    <name>OriginStrip</name>
    <message>
        <source>Not secure</source>
        <translation>Nicht sicher</translation>
    </message>
    <message>
        <source>Site</source>
        <translation>Website</translation>
    </message>
    <message>
        <source>Secure connection</source>
        <translation>Sichere Verbindung</translation>
    </message>
    <message>
        <source>Loading</source>
        <translation>Wird geladen</translation>
    </message>
</context>
<context>
    <name>PageDialogs</name>
    <message>
        <source>%1 says</source>
        <comment>a page&apos;s dialog, by its origin</comment>
        <translation>%1 meldet</translation>
    </message>
</context>
<context>
    <name>PasskeyPrompt</name>
    <message>
        <source>%1 asks for a passkey or a security key. Insert your security key and touch it, or press Escape to decline.</source>
        <translation>%1 fragt nach einem Passkey oder Sicherheitsschlüssel. Stecken Sie Ihren Sicherheitsschlüssel ein und berühren Sie ihn, oder drücken Sie Escape, um abzulehnen.</translation>
    </message>
    <message>
        <source>Your security key holds several accounts for %1. Choose one and press Enter, or press Escape to decline.</source>
        <translation>Ihr Sicherheitsschlüssel enthält mehrere Konten für %1. Wählen Sie eines und drücken Sie die Eingabetaste, oder drücken Sie Escape, um abzulehnen.</translation>
    </message>
    <message>
        <source>Choose a new PIN for your security key and press Enter, or press Escape to decline.</source>
        <translation>Wählen Sie eine neue PIN für Ihren Sicherheitsschlüssel und drücken Sie die Eingabetaste, oder drücken Sie Escape, um abzulehnen.</translation>
    </message>
    <message>
        <source>Enter the PIN of your security key and press Enter, or press Escape to decline.</source>
        <translation>Geben Sie die PIN Ihres Sicherheitsschlüssels ein und drücken Sie die Eingabetaste, oder drücken Sie Escape, um abzulehnen.</translation>
    </message>
    <message>
        <source>Touch your security key to sign in to %1, or press Escape to decline.</source>
        <translation>Berühren Sie Ihren Sicherheitsschlüssel, um sich bei %1 anzumelden, oder drücken Sie Escape, um abzulehnen.</translation>
    </message>
    <message>
        <source>The security key could not sign you in to %1.</source>
        <translation>Mit dem Sicherheitsschlüssel konnten Sie nicht bei %1 angemeldet werden.</translation>
    </message>
    <message numerus="yes">
        <source>%n attempt(s) left before the key locks.</source>
        <translation>
            <numerusform>Noch %n Versuch, bevor der Schlüssel gesperrt wird.</numerusform>
            <numerusform>Noch %n Versuche, bevor der Schlüssel gesperrt wird.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The PIN has at least %n character(s).</source>
        <translation>
            <numerusform>Die PIN hat mindestens %n Zeichen.</numerusform>
            <numerusform>Die PIN hat mindestens %n Zeichen.</numerusform>
        </translation>
    </message>
    <message>
        <source>Security key</source>
        <translation>Sicherheitsschlüssel</translation>
    </message>
    <message>
        <source>Accounts</source>
        <translation>Konten</translation>
    </message>
    <message>
        <source>PIN</source>
        <translation>PIN</translation>
    </message>
    <message>
        <source>&amp;PIN:</source>
        <translation>&amp;PIN:</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>Try again</source>
        <translation>Erneut versuchen</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>The key&apos;s own check (a fingerprint) is locked: enter the PIN.</source>
        <translation>Die Prüfung des Schlüssels selbst (ein Fingerabdruck) ist gesperrt: Geben Sie die PIN ein.</translation>
    </message>
    <message>
        <source>That PIN was wrong.</source>
        <translation>Diese PIN war falsch.</translation>
    </message>
    <message>
        <source>That PIN is too short.</source>
        <translation>Diese PIN ist zu kurz.</translation>
    </message>
    <message>
        <source>That PIN holds characters the key does not take.</source>
        <translation>Diese PIN enthält Zeichen, die der Schlüssel nicht annimmt.</translation>
    </message>
    <message>
        <source>The new PIN must differ from the current one.</source>
        <translation>Die neue PIN muss sich von der bisherigen unterscheiden.</translation>
    </message>
    <message>
        <source>The time for the request ran out.</source>
        <translation>Die Zeit für die Anfrage ist abgelaufen.</translation>
    </message>
    <message>
        <source>This security key is not registered with the site.</source>
        <translation>Dieser Sicherheitsschlüssel ist bei der Website nicht registriert.</translation>
    </message>
    <message>
        <source>This security key is already registered with the site.</source>
        <translation>Dieser Sicherheitsschlüssel ist bei der Website bereits registriert.</translation>
    </message>
    <message>
        <source>Too many wrong PINs: remove the key, insert it again and retry.</source>
        <translation>Zu viele falsche PINs: Ziehen Sie den Schlüssel ab, stecken Sie ihn wieder ein und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>The key is locked after too many wrong PINs; it has to be reset.</source>
        <translation>Der Schlüssel ist nach zu vielen falschen PINs gesperrt; er muss zurückgesetzt werden.</translation>
    </message>
    <message>
        <source>The key was removed while its PIN was asked for.</source>
        <translation>Der Schlüssel wurde abgezogen, während nach seiner PIN gefragt wurde.</translation>
    </message>
    <message>
        <source>This key cannot store a passkey for the site.</source>
        <translation>Dieser Schlüssel kann keinen Passkey für die Website speichern.</translation>
    </message>
    <message>
        <source>This key has no PIN or fingerprint check, which the site requires.</source>
        <translation>Dieser Schlüssel hat keine PIN- oder Fingerabdruckprüfung, die die Website verlangt.</translation>
    </message>
    <message>
        <source>This key cannot store the data the site asks for.</source>
        <translation>Dieser Schlüssel kann die Daten, nach denen die Website fragt, nicht speichern.</translation>
    </message>
    <message>
        <source>This key does not support what the site requires.</source>
        <translation>Dieser Schlüssel unterstützt nicht, was die Website verlangt.</translation>
    </message>
    <message>
        <source>This key has no room for another passkey.</source>
        <translation>Dieser Schlüssel hat keinen Platz für einen weiteren Passkey.</translation>
    </message>
    <message>
        <source>The request was declined on the key.</source>
        <translation>Die Anfrage wurde am Schlüssel abgelehnt.</translation>
    </message>
</context>
</TS>
