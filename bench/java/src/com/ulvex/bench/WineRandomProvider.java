package com.ulvex.bench;

import java.security.Provider;
import java.security.SecureRandomSpi;
import java.util.SplittableRandom;

/**
 * The default SecureRandom of the benchmark's JVMs, first in the provider list (see
 * wine.security). Under Wine 8 every SecureRandom of JDK 21's own providers seeds itself from
 * SeedGenerator.getSystemEntropy, which lists the network interfaces through a function Wine's
 * iphlpapi.dll lacks (GetAnycastIpAddressTable), and the JVM dies; JMH and JNA need random
 * numbers only for the names of their temporary files. Not for anything secret.
 */
public final class WineRandomProvider extends Provider {
    private static final long serialVersionUID = 1L;

    public WineRandomProvider() {
        super("UlvexWineRandom", 1.0, "SecureRandom for temporary file names under Wine");
        put("SecureRandom.NameRandom", NameRandom.class.getName());
    }

    public static final class NameRandom extends SecureRandomSpi {
        private static final long serialVersionUID = 1L;
        private SplittableRandom random =
                new SplittableRandom(System.nanoTime() ^ System.identityHashCode(new Object()));

        @Override
        protected synchronized void engineSetSeed(byte[] seed) {
            long mix = random.nextLong();
            for (byte b : seed) {
                mix = mix * 31 + b;
            }
            random = new SplittableRandom(mix);
        }

        @Override
        protected synchronized void engineNextBytes(byte[] bytes) {
            for (int i = 0; i < bytes.length; i++) {
                bytes[i] = (byte) random.nextInt(256);
            }
        }

        @Override
        protected byte[] engineGenerateSeed(int numBytes) {
            byte[] seed = new byte[numBytes];
            engineNextBytes(seed);
            return seed;
        }
    }
}
