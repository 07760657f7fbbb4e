package com.ulvex.kesp.tavik.common.win32;

/**
 * The Windows registry, reached through {@code ulvexwin64.dll}.
 *
 * <p>A root key is passed as the 32-bit pattern of its predefined handle, for example
 * {@link #HKEY_CURRENT_USER}. Key paths are relative to the root and use backslashes. Every
 * operation opens and closes its own key; no key handle ever reaches Java.
 *
 * <p>Failures are raised as {@link RegistryException}; {@link #keyExists} never raises, and
 * {@link #keyCreate} reports a creation Windows refuses through its result. A method that raises
 * returns nothing to its caller: Java sees the exception and no result. Values are read and
 * written as {@code byte[]} (types 0 and 3), {@code String} (types 1 and 2) or {@code Integer}
 * (types 4 and 5).
 *
 * <p>Key paths, value names and the text {@link #keySetValue} writes keep the form earlier
 * releases stored: the string's modified UTF-8 bytes, which Windows stores as text of the ANSI
 * code page. Text is read as UTF-16: in that form it reads as it was written, and text other
 * programs stored reads exactly as stored. An existing key or value that another program named
 * beyond ASCII is found by its name as well.
 */
public final class Registry {
    public static final int HKEY_CLASSES_ROOT = 0x80000000;
    public static final int HKEY_CURRENT_USER = 0x80000001;
    public static final int HKEY_LOCAL_MACHINE = 0x80000002;
    public static final int HKEY_USERS = 0x80000003;
    public static final int HKEY_PERFORMANCE_DATA = 0x80000004;
    public static final int HKEY_CURRENT_CONFIG = 0x80000005;
    public static final int HKEY_DYN_DATA = 0x80000006;

    public static final int REG_NONE = 0;
    public static final int REG_SZ = 1;
    public static final int REG_EXPAND_SZ = 2;
    public static final int REG_BINARY = 3;
    public static final int REG_DWORD = 4;
    public static final int REG_DWORD_BIG_ENDIAN = 5;
    public static final int REG_LINK = 6;
    public static final int REG_MULTI_SZ = 7;

    static {
        System.loadLibrary("ulvexwin64");
    }

    private Registry() {}

    /**
     * Creates the key and any missing parents.
     *
     * @return 0 when the key is created, the Windows error code when Windows refuses to create it,
     *     or -1 for a null path
     * @throws RegistryException "Attempted to create existing key" when the key exists already
     *     (it is left as it is, and no result reaches Java)
     */
    public static native int keyCreate(int root, String subKey) throws RegistryException;

    /**
     * Deletes the key with its whole tree, then tells all top-level windows that the environment
     * settings have changed when {@code broadcast} is true, whether or not the key was deleted.
     *
     * @return 0 when the key is deleted, or -1 for a null path; no Windows error code reaches Java
     * @throws RegistryException "Could not delete registry key" when Windows cannot delete it (a
     *     missing key, for example), and for an empty path or one made only of backslashes, which
     *     names the root itself and is refused
     */
    public static native int keyDelete(int root, String subKey, boolean broadcast)
            throws RegistryException;

    public static native boolean keyExists(int root, String subKey);

    public static native boolean keyHasSubKeys(int root, String subKey) throws RegistryException;

    public static native boolean keyHasValues(int root, String subKey) throws RegistryException;

    public static native boolean keyHasValue(int root, String subKey, String valueName)
            throws RegistryException;

    /** The registry type number of the value, or -1 for a null path or value name. */
    public static native int keyGetValueType(int root, String subKey, String valueName)
            throws RegistryException;

    public static native void keyDeleteValue(
            int root, String subKey, String valueName, boolean broadcast)
            throws RegistryException;

    /** Tells all top-level windows that the environment settings have changed. */
    public static native void broadcastUpdate();

    /** A {@code String}, {@code Integer} or {@code byte[]} by the value's type, or null. */
    public static native Object keyGetValue(int root, String subKey, String valueName)
            throws RegistryException;

    public static native void keySetValue(
            int root, String subKey, String valueName, int type, Object value, boolean broadcast)
            throws RegistryException;
}
