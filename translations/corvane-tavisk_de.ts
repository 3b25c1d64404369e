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
</TS>
